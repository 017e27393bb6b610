# Tests of the dialogs and of the settings: GoogleTest with a QApplication on the offscreen
# platform (label gui). The screenshots of the dialogs land in this folder of the build.
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(app_dialogs_tests
  ${CMAKE_CURRENT_LIST_DIR}/dialogs_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dlg_settings_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dlg_found_devices_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dlg_small_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dlg_screenshots_test.cpp)
target_link_libraries(app_dialogs_tests PRIVATE veltr_app_dialogs Qt6::Test GTest::gtest)
target_include_directories(app_dialogs_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(app_dialogs_tests PRIVATE
  VELTR_SCREENSHOT_DIR="${CMAKE_CURRENT_BINARY_DIR}/screenshots")
gtest_discover_tests(app_dialogs_tests DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS gui ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
