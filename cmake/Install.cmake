# What `cmake --install` puts where, and the Debian package cpack makes of it.
include(CMakePackageConfigHelpers)

# Installed, the library finds the WMI client beside itself and the tool finds both in ../lib.
if(NOT WIN32)
    set_target_properties(qz-shared-qzbios qz-shared-wmi-client PROPERTIES
                          INSTALL_RPATH "$ORIGIN")
    file(RELATIVE_PATH _lib_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    set_target_properties(qzbios-dump PROPERTIES INSTALL_RPATH "$ORIGIN/${_lib_from_bin}")
endif()
set_target_properties(qz-shared-qzbios PROPERTIES EXPORT_NAME qzbios)
set_target_properties(qz-shared-wmi-client PROPERTIES EXPORT_NAME wmi-client)

install(TARGETS qz-shared-qzbios qz-shared-wmi-client EXPORT qzbiosTargets
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

# Relative to the .pc file, so that the installed tree may be moved (a staging prefix, a package).
file(RELATIVE_PATH _prefix_from_pc ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(${PROJECT_SOURCE_DIR}/cmake/qzbios.pc.in ${PROJECT_BINARY_DIR}/qzbios.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qzbios.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# One Debian package: the library, its WMI client, the tool, the header and the CMake and
# pkg-config files. The header includes plog's, so the package needs plog's development package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qzbios)
set(CPACK_PACKAGE_VENDOR "qzbios developers")
set(CPACK_PACKAGE_CONTACT "qzbios developers <qzbios@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, libplog-dev (>= 1.1.10)")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
