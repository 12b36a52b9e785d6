find_package(GTest REQUIRED)
include(GoogleTest)

# No test goes through a proxy of the machine it runs on: a test that wants
# one sets it for its own child processes. (libcurl takes an empty variable
# for an unset one.)
set(QUILTARA_TEST_PROXY_ENVIRONMENT
    "http_proxy=;HTTP_PROXY=;https_proxy=;HTTPS_PROXY=;all_proxy=;ALL_PROXY=;no_proxy=;NO_PROXY=")

# quiltara_test_environment(NAME "VAR=value;..."): the environment of every
# case discovered in the test executable NAME. The discovered cases' property
# list cannot carry a list value, so the environment is set by a script CTest
# runs after it has read the cases.
function(quiltara_test_environment name environment)
    set(environment_script "${CMAKE_CURRENT_BINARY_DIR}/${name}_environment.cmake")
    file(WRITE "${environment_script}"
        "foreach(test IN LISTS ${name}_TESTS)\n"
        "    set_tests_properties(\"\${test}\" PROPERTIES ENVIRONMENT\n"
        "        \"${environment}\")\n"
        "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${environment_script}")
endfunction()

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
        PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT})
    quiltara_test_environment(${name} "${QUILTARA_TEST_PROXY_ENVIRONMENT}")
endfunction()
