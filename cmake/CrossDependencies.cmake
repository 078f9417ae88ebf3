# The header-only dependencies and GoogleTest for a cross build. Their Debian packages install for
# the build machine: their headers live in /usr/include beside glibc's, which must not reach a
# Windows compile, so only their own folders are exposed, and GoogleTest is built from the sources
# Debian ships.
set(_headers ${CMAKE_BINARY_DIR}/cross-headers)
file(MAKE_DIRECTORY ${_headers})
foreach(dir plog nlohmann)
    if(NOT EXISTS ${_headers}/${dir})
        file(CREATE_LINK /usr/include/${dir} ${_headers}/${dir} SYMBOLIC)
    endif()
endforeach()

add_library(plog::plog INTERFACE IMPORTED)
target_include_directories(plog::plog SYSTEM INTERFACE ${_headers})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${_headers})

if(QZBIOS_BUILD_TESTS)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    # Defines the GTest:: targets itself.
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
