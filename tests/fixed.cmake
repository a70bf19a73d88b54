# BalTrap and InkStain: effect drawing probed in a GL window, their script
# packages through an embedded interpreter, and the real player binary.
add_executable(fixed_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/fixed/FixedSupport.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/fixed/BalTrapTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/fixed/InkStainTest.cpp)
target_link_libraries(fixed_tests PRIVATE perlsupport testsupport showeffects GTest::gtest_main ${CMAKE_DL_LIBS})
add_test(NAME fixed.baltrap COMMAND fixed_tests --gtest_filter=BalTrap*)
set_tests_properties(fixed.baltrap PROPERTIES LABELS render)
add_test(NAME fixed.inkstain COMMAND fixed_tests --gtest_filter=InkStain*)
set_tests_properties(fixed.inkstain PROPERTIES LABELS render)
