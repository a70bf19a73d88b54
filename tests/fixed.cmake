# BalTrap and InkStain: effect drawing probed in a GL window, their script
# packages through an embedded interpreter, and the real player binary.
add_executable(fixed_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/fixed/FixedSupport.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/fixed/BalTrapTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/fixed/InkStainTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/fixed/GlueTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/fixed/ScriptTest.cpp)
target_link_libraries(fixed_tests PRIVATE perlsupport testsupport showeffects GTest::gtest_main ${CMAKE_DL_LIBS})
add_dependencies(fixed_tests showplayer fixtures)
add_test(NAME fixed.baltrap COMMAND fixed_tests --gtest_filter=BalTrap*)
add_test(NAME fixed.inkstain COMMAND fixed_tests --gtest_filter=InkStain*)
add_test(NAME fixed.glue COMMAND fixed_tests --gtest_filter=FixedGlue*)
set_tests_properties(fixed.baltrap fixed.inkstain fixed.glue PROPERTIES LABELS render)
add_test(NAME fixed.script COMMAND fixed_tests --gtest_filter=FixedScript*)
set_tests_properties(fixed.script PROPERTIES LABELS script)
