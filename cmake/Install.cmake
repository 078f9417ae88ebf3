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

# Two components: the C++ class (qzbiosTargets, which needs plog) and the C interface
# (qzbiosCTargets, which needs nothing).
foreach(set qzbiosTargets qzbiosCTargets)
    if(set STREQUAL qzbiosTargets)
        set(_targets qz-shared-qzbios qz-shared-wmi-client)
    else()
        set(_targets qz-shared-qzbios-c)
    endif()
    install(TARGETS ${_targets} EXPORT ${set}
            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
            ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
            INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    install(EXPORT ${set} NAMESPACE qz:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qzbios)
endforeach()
install(TARGETS qzbios-dump RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/qzbios DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/fleet/qzbios.rules.yml DESTINATION ${CMAKE_INSTALL_DATADIR}/qzbios)
# The fleet's baseline is the administrator's to set: configuration, which an upgrade keeps (on
# Windows, a template for the Prometheus server's).
if(WIN32)
    install(FILES ${PROJECT_SOURCE_DIR}/fleet/qzbios-baseline.rules.yml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/qzbios)
else()
    install(FILES ${PROJECT_SOURCE_DIR}/fleet/qzbios-baseline.rules.yml
            DESTINATION ${CMAKE_INSTALL_SYSCONFDIR}/qzbios)
endif()
# The bindings of other languages. On Windows the Python module stands beside the C library, which it
# loads by its full path.
install(FILES ${PROJECT_SOURCE_DIR}/bindings/csharp/Qzbios.cs
        DESTINATION ${CMAKE_INSTALL_DATADIR}/qzbios/csharp)
if(WIN32)
    install(FILES ${PROJECT_SOURCE_DIR}/bindings/python/qzbios.py DESTINATION ${CMAKE_INSTALL_BINDIR})
else()
    install(FILES ${PROJECT_SOURCE_DIR}/bindings/python/qzbios.py
            DESTINATION ${CMAKE_INSTALL_DATADIR}/qzbios/python)
endif()

set(_config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/qzbios)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/qzbiosConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/qzbiosConfig.cmake
                              INSTALL_DESTINATION ${_config_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qzbiosConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qzbiosConfig.cmake
              ${PROJECT_BINARY_DIR}/qzbiosConfigVersion.cmake
        DESTINATION ${_config_dir})

# pkg-config files: the C++ library (qzbios) and the C interface (qzbios-c). They find the prefix
# from where they stand, so that an installed tree (the MSI's, say) may be moved; a distribution's
# /usr is written as it is, which pkg-config knows to leave out of the flags.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(QZBIOS_PC_PREFIX /usr)
else()
    file(RELATIVE_PATH _up ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
    string(REGEX REPLACE "/$" "" _up "${_up}")
    set(QZBIOS_PC_PREFIX "\${pcfiledir}/${_up}")
endif()
foreach(pc qzbios qzbios-c)
    if(pc STREQUAL qzbios)
        set(QZBIOS_PC_NAME qzbios)
        set(QZBIOS_PC_LIBRARY qz-shared-qzbios)
        set(QZBIOS_PC_DESCRIPTION "${PROJECT_DESCRIPTION}, the C++ class")
    else()
        set(QZBIOS_PC_NAME qzbios-c)
        set(QZBIOS_PC_LIBRARY qz-shared-qzbios-c)
        set(QZBIOS_PC_DESCRIPTION "${PROJECT_DESCRIPTION}, the C interface")
    endif()
    configure_file(${PROJECT_SOURCE_DIR}/cmake/qzbios.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

# On Windows the scheduled task of the fleet output stands beside the tool (the MSI registers it on
# request).
if(WIN32)
    install(FILES ${PROJECT_SOURCE_DIR}/windows/qzbios-textfile.xml DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
