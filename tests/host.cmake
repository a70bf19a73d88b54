# Start-up: options, stages, script host.
add_executable(close_window ${CMAKE_CURRENT_SOURCE_DIR}/host/CloseWindow.cpp)
target_link_libraries(close_window PRIVATE X11)

add_executable(host_tests ${CMAKE_CURRENT_SOURCE_DIR}/host/OptionsTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/host/StartupTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/host/ScriptHostTest.cpp)
target_link_libraries(host_tests PRIVATE showhost testsupport GTest::gtest_main)
target_compile_definitions(host_tests PRIVATE CLOSE_WINDOW_TOOL="$<TARGET_FILE:close_window>")
add_dependencies(host_tests close_window)
add_test(NAME host.options COMMAND host_tests --gtest_filter=Options*)
add_test(NAME host.runs COMMAND host_tests --gtest_filter=ScriptHostRuns.*)
set_tests_properties(host.options host.runs PROPERTIES LABELS unit)
foreach(group StartupOptions StartupStages StartupScript)
  add_test(NAME host.${group} COMMAND host_tests --gtest_filter=${group}.*)
  set_tests_properties(host.${group} PROPERTIES LABELS script)
endforeach()
