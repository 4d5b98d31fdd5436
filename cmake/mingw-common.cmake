# Shared part of the two MinGW toolchain files; QZ_TRIPLET is set by the caller.
set(CMAKE_C_COMPILER ${QZ_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QZ_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QZ_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QZ_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests run under Wine with code page 936, through the project's wrapper.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
