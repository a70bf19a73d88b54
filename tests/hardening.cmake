# Hardening: the bad-input table, regression cases kept from fuzzing, and
# misbehaving scripts run by the player. scripts/fuzz finds new cases;
# tests/hardening/lsan.supp lists the libraries' own leaks for sanitizer runs.
find_program(HARDENING_CONVERT convert-im6.q16 REQUIRED)
add_custom_command(OUTPUT ${FIXTURE_DIR}/hardening-64.png
  COMMAND ${HARDENING_CONVERT} -size 64x64 gradient:red-blue -depth 8 PNG32:${FIXTURE_DIR}/hardening-64.png
  VERBATIM)
add_custom_target(hardening_fixtures ALL DEPENDS ${FIXTURE_DIR}/hardening-64.png)

add_executable(hardening_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/hardening/BadInputTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/hardening/CasesTest.cpp)
target_link_libraries(hardening_tests PRIVATE perlsupport scene3ds GTest::gtest_main)
add_dependencies(hardening_tests hardening_fixtures)
add_test(NAME hardening.badinput COMMAND hardening_tests --gtest_filter=BadInput*)
add_test(NAME hardening.cases COMMAND hardening_tests --gtest_filter=Cases.*:CasesLib3ds.*)
set_tests_properties(hardening.badinput hardening.cases PROPERTIES LABELS render)

add_executable(hardening_script_tests ${CMAKE_CURRENT_SOURCE_DIR}/hardening/ScriptTest.cpp)
target_link_libraries(hardening_script_tests PRIVATE testsupport GTest::gtest_main)
add_dependencies(hardening_script_tests showplayer)
add_test(NAME hardening.script COMMAND hardening_script_tests)
set_tests_properties(hardening.script PROPERTIES LABELS script)
