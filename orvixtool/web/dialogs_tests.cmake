# The web dialogs, drawn offscreen; gui_test_main.cpp creates the QApplication.
add_executable(devod_web_dialogs_test
    ${CMAKE_CURRENT_LIST_DIR}/tests/dialogs_test.cpp
    ${PROJECT_SOURCE_DIR}/orvixtool/shell/tests/gui_test_main.cpp
)
target_link_libraries(devod_web_dialogs_test PRIVATE devod_web_dialogs GTest::gtest project_options)
gtest_discover_tests(devod_web_dialogs_test DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                     PROPERTIES LABELS "gui" TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
