# Start-up: options, stages, script host.
add_executable(host_tests ${CMAKE_CURRENT_SOURCE_DIR}/host/OptionsTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/host/StartupTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/host/ScriptHostTest.cpp)
target_link_libraries(host_tests PRIVATE showhost testsupport scene3ds GTest::gtest_main)
# What --version and the missing-script hint must say.
target_compile_definitions(host_tests PRIVATE SHOWPLAYER_VERSION="${PROJECT_VERSION}"
  SHOWPLAYER_INSTALLED_SHOW="${CMAKE_INSTALL_PREFIX}/share/showplayer/show")
add_test(NAME host.options COMMAND host_tests --gtest_filter=Options*)
add_test(NAME host.runs COMMAND host_tests --gtest_filter=ScriptHostRuns.*)
set_tests_properties(host.options host.runs PROPERTIES LABELS unit)
foreach(group StartupStages StartupScript)
  add_test(NAME host.${group} COMMAND host_tests --gtest_filter=${group}.*)
  set_tests_properties(host.${group} PROPERTIES LABELS script)
endforeach()
