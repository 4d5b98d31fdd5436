# qz_add_test(NAME name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s] [BUILD_ONLY])
# BUILD_ONLY builds the executable without registering it, for a test that
# CTest starts through a wrapper of its own.
# One test executable is one CTest test: under Wine each process start costs
# a good fraction of a second, so the cases of an executable run together.
enable_testing()

function(qz_add_test)
    cmake_parse_arguments(T "BUILD_ONLY" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} qz::gtest_main)
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
    if(T_BUILD_ONLY)
        return()
    endif()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 600)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QZ_SOURCE_DIR=${PROJECT_SOURCE_DIR};QZ_BINARY_DIR=${CMAKE_BINARY_DIR}")
    if(T_LABELS)
        set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
    endif()
endfunction()
