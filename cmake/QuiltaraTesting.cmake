find_package(GTest REQUIRED)
include(GoogleTest)

# quiltara_add_test(NAME LABEL <unit|integration|gui> SOURCES ... [LIBS ...])
# Builds one GoogleTest executable and registers each of its cases with CTest under LABEL.
function(quiltara_add_test name)
    cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_LABEL)
        message(FATAL_ERROR "quiltara_add_test(${name}): LABEL is required")
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} quiltara_test_support GTest::gmock
                          GTest::gtest_main quiltara_warnings)
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT}
        # Never the user's tile cache: a test that wants one names its own.
        ENVIRONMENT XDG_CACHE_HOME=${CMAKE_BINARY_DIR}/test-cache-home)
endfunction()
