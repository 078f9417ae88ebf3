# What `cmake --install` puts where; debian/ splits it into Debian's packages.
include(CMakePackageConfigHelpers)

# The libraries find one another beside themselves, in the build tree and in any prefix. They are
# built with that search path rather than edited at install time, which would need room reserved in
# the build tree's binaries as empty entries (the current folder, to the loader). qzbios-dump links
# the library's code into itself, and needs no search path.
if(NOT WIN32)
    set_target_properties(qz-shared-qzbios qz-shared-wmi-client qz-shared-qzbios-c PROPERTIES
                          INSTALL_RPATH "$ORIGIN" BUILD_WITH_INSTALL_RPATH ON)
endif()
set_target_properties(qz-shared-qzbios PROPERTIES EXPORT_NAME qzbios)
set_target_properties(qz-shared-wmi-client PROPERTIES EXPORT_NAME wmi-client)
set_target_properties(qz-shared-qzbios-c PROPERTIES EXPORT_NAME qzbios-c)

install(TARGETS qz-shared-qzbios qz-shared-wmi-client qz-shared-qzbios-c EXPORT qzbiosTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS qzbios-dump RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/qzbios DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(_config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/qzbios)
install(EXPORT qzbiosTargets NAMESPACE qz:: DESTINATION ${_config_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/qzbiosConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/qzbiosConfig.cmake
                              INSTALL_DESTINATION ${_config_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qzbiosConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qzbiosConfig.cmake
              ${PROJECT_BINARY_DIR}/qzbiosConfigVersion.cmake
        DESTINATION ${_config_dir})

configure_file(${PROJECT_SOURCE_DIR}/cmake/qzbios.pc.in ${PROJECT_BINARY_DIR}/qzbios.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qzbios.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# On Windows the scheduled task of the fleet output stands beside the tool (the MSI registers it on
# request).
if(WIN32)
    install(FILES ${PROJECT_SOURCE_DIR}/windows/qzbios-textfile.xml DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
