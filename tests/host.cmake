# Start-up: options, stages, script host.
add_executable(host_tests ${CMAKE_CURRENT_SOURCE_DIR}/host/OptionsTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/host/StartupTest.cpp)
target_link_libraries(host_tests PRIVATE showhost testsupport GTest::gtest_main)
add_test(NAME host.options COMMAND host_tests --gtest_filter=Options*)
set_tests_properties(host.options PROPERTIES LABELS unit)
add_test(NAME host.startup COMMAND host_tests --gtest_filter=Startup*)
set_tests_properties(host.startup PROPERTIES LABELS script)
