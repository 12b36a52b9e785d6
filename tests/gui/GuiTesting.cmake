# GUI tests: GoogleTest cases that run inside a QApplication, offscreen, with
# Qt WebEngine. Included from tests/gui and tests/app.
include_guard(GLOBAL)

find_package(Qt6 REQUIRED COMPONENTS Test)

# Starts the QApplication before the tests and gives them small waiting helpers.
add_library(quiltara_gui_test_support STATIC
    ${CMAKE_CURRENT_LIST_DIR}/GuiTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/GuiTestSupport.cpp)
target_include_directories(quiltara_gui_test_support PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(quiltara_gui_test_support PUBLIC quiltara_gui quiltara_test_support
                      Qt6::Test GTest::gmock GTest::gtest PRIVATE quiltara_warnings)
set_target_properties(quiltara_gui_test_support PROPERTIES AUTOMOC ON)

# The environment every GUI test runs in: no display needed, Chromium
# without its sandbox and GPU (both unavailable in containers and CI).
set(QUILTARA_GUI_TEST_ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen;QTWEBENGINE_DISABLE_SANDBOX=1;QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu --no-sandbox")

# quiltara_add_gui_test(NAME SOURCES ... [LIBS ...] [TIMEOUT s]): label gui.
function(quiltara_add_gui_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} quiltara_gui_test_support quiltara_warnings)
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS gui TIMEOUT ${ARG_TIMEOUT})
    quiltara_test_environment(${name}
        "${QUILTARA_GUI_TEST_ENVIRONMENT};${QUILTARA_TEST_PROXY_ENVIRONMENT}")
endfunction()
