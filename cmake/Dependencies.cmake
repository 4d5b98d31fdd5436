# Imported targets for the third-party libraries. For Windows builds they come
# from MinGW's zlib package and from .deps/<arch>, where scripts/build-deps.sh
# cross-builds minizip, libpng, the decoders of the other ZIP methods,
# libarchive, libdeflate and GoogleTest from Debian's source packages. The host
# build uses the machine's own development packages of the same libraries.

set(QZ_DEPS_DIR "${PROJECT_SOURCE_DIR}/.deps" CACHE PATH "where build-deps.sh installed the libraries")

function(qz_import_static name lib incdir)
    if(NOT EXISTS "${lib}")
        message(FATAL_ERROR "${lib} is missing: run scripts/setup.sh")
    endif()
    add_library(${name} STATIC IMPORTED GLOBAL)
    set_target_properties(${name} PROPERTIES
        IMPORTED_LOCATION "${lib}"
        INTERFACE_INCLUDE_DIRECTORIES "${incdir}")
endfunction()

if(WIN32)
    set(_prefix "${QZ_DEPS_DIR}/${CMAKE_SYSTEM_PROCESSOR}")
    set(_sysroot "/usr/${QZ_TRIPLET}")
    qz_import_static(qz::zlib "${_sysroot}/lib/libz.a" "${_sysroot}/include")
    qz_import_static(qz::minizip "${_prefix}/lib/libminizip.a" "${_prefix}/include")
    target_link_libraries(qz::minizip INTERFACE qz::zlib)
    qz_import_static(qz::png "${_prefix}/lib/libpng16.a" "${_prefix}/include")
    target_link_libraries(qz::png INTERFACE qz::zlib)
    qz_import_static(qz::bzip2 "${_prefix}/lib/libbz2.a" "${_prefix}/include")
    qz_import_static(qz::lzma "${_prefix}/lib/liblzma.a" "${_prefix}/include")
    set_target_properties(qz::lzma PROPERTIES INTERFACE_COMPILE_DEFINITIONS LZMA_API_STATIC)
    qz_import_static(qz::zstd "${_prefix}/lib/libzstd.a" "${_prefix}/include")
    # libarchive, static, over the same decoders; CNG for its crypto. Its
    # allocations go through the bounds in archive/libarchive, linked right
    # after it.
    qz_import_static(qz::archive "${_prefix}/lib/libarchive-bounded.a" "${_prefix}/include")
    set_target_properties(qz::archive PROPERTIES INTERFACE_COMPILE_DEFINITIONS LIBARCHIVE_STATIC)
    add_library(qz_archive_bounds STATIC "${PROJECT_SOURCE_DIR}/archive/libarchive/AllocationBounds.c")
    target_include_directories(qz_archive_bounds PUBLIC "${PROJECT_SOURCE_DIR}")
    target_link_libraries(qz_archive_bounds PUBLIC qz::lzma)
    target_link_libraries(qz::archive INTERFACE qz_archive_bounds qz::zlib qz::bzip2 qz::lzma qz::zstd bcrypt)
    qz_import_static(qz::deflate "${_prefix}/lib/libdeflate.a" "${_prefix}/include")
    qz_import_static(qz::gtest "${_prefix}/lib/libgtest.a" "${_prefix}/include")
    qz_import_static(qz::gtest_main "${_prefix}/lib/libgtest_main.a" "${_prefix}/include")
    target_link_libraries(qz::gtest_main INTERFACE qz::gtest)
else()
    # The host build uses the machine's own GoogleTest sources.
    set(_gtest_src /usr/src/googletest)
    if(NOT EXISTS "${_gtest_src}/CMakeLists.txt")
        message(FATAL_ERROR "GoogleTest sources missing: run scripts/setup.sh")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(${_gtest_src} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    add_library(qz::gtest ALIAS gtest)
    # Debian's libzstd-dev has a pkg-config file but no CMake package.
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
    add_library(qz::zstd ALIAS PkgConfig::ZSTD)
    pkg_check_modules(LIBARCHIVE REQUIRED IMPORTED_TARGET libarchive)
    add_library(qz::archive ALIAS PkgConfig::LIBARCHIVE)
    pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
    add_library(qz::deflate ALIAS PkgConfig::LIBDEFLATE)
    add_library(qz::gtest_main ALIAS gtest_main)
endif()
