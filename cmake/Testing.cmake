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

# qz_add_test_drive(NAME fixture STATE_DIR dir [PREPARE shell-command] [LABELS ...])
# A CTest fixture that maps a spare Wine drive letter to a fresh folder under
# STATE_DIR (tests/app/map-watch-drive.sh) for tests that watch a whole
# drive, after an optional command that prepares their files. The tests
# then name the fixture in FIXTURES_REQUIRED.
function(qz_add_test_drive)
    cmake_parse_arguments(D "" "NAME;STATE_DIR;PREPARE" "LABELS" ${ARGN})
    set(map ${PROJECT_SOURCE_DIR}/tests/app/map-watch-drive.sh)
    set(setup "bash '${map}' setup '${D_STATE_DIR}'")
    if(D_PREPARE)
        set(setup "${D_PREPARE} && ${setup}")
    endif()
    add_test(NAME ${D_NAME}_setup COMMAND sh -c "${setup}")
    add_test(NAME ${D_NAME}_cleanup COMMAND bash ${map} cleanup ${D_STATE_DIR})
    set_tests_properties(${D_NAME}_setup PROPERTIES FIXTURES_SETUP ${D_NAME} TIMEOUT 300)
    set_tests_properties(${D_NAME}_cleanup PROPERTIES FIXTURES_CLEANUP ${D_NAME})
    if(D_LABELS)
        set_tests_properties(${D_NAME}_setup ${D_NAME}_cleanup PROPERTIES LABELS "${D_LABELS}")
    endif()
endfunction()
