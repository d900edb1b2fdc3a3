# The server browser's tests: the SSRP messages and browser (Qt-free) against a scripted peer
# on 127.0.0.1, and the dialog driven through real widgets on the offscreen platform.
set(BV_SSRP_TEST_SOURCES ssrp_reply_test.cpp ssrp_browser_test.cpp ssrp_test_responder.h)
if(WIN32)
  list(APPEND BV_SSRP_TEST_SOURCES server_enumerator_win32_test.cpp)
else()
  list(APPEND BV_SSRP_TEST_SOURCES server_enumerator_posix_test.cpp)
endif()
add_executable(ssrp_tests ${BV_SSRP_TEST_SOURCES})
target_link_libraries(ssrp_tests PRIVATE bv_server_enum Threads::Threads GTest::gtest_main)
bv_warnings(ssrp_tests)
gtest_discover_tests(ssrp_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 120)

if(BRACKENVALE_BUILD_GUI)
  set(BV_BROWSER_WIDGET_SOURCES
    widget_test_main.cpp prompt_recorder.h server_list_dialog_test.cpp)
  # The stand-in's own SSRP responder, where the stand-in is built.
  if(TARGET standin_wire)
    list(APPEND BV_BROWSER_WIDGET_SOURCES server_browser_standin_test.cpp)
  endif()
  add_executable(server_browser_tests ${BV_BROWSER_WIDGET_SOURCES})
  target_link_libraries(server_browser_tests PRIVATE
    bv_forms bv_test_common Qt6::Test Threads::Threads GTest::gtest)
  if(TARGET standin_wire)
    target_link_libraries(server_browser_tests PRIVATE standin_wire)
  endif()
  bv_warnings(server_browser_tests)
  gtest_discover_tests(server_browser_tests DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
