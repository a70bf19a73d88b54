# BalTrap and InkStain: effect drawing probed in a GL window (also after a
# textured Model, whose scenes come from the scene tool's writer).
add_executable(baltrap_inkstain_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/baltrap-inkstain/BalTrapInkStainTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/model/ModelScenes.cpp)
target_link_libraries(baltrap_inkstain_tests PRIVATE testsupport showeffects scene3ds GTest::gtest_main
  ${CMAKE_DL_LIBS})
add_test(NAME baltrap.draw COMMAND baltrap_inkstain_tests --gtest_filter=BalTrapTest.*)
add_test(NAME inkstain.draw COMMAND baltrap_inkstain_tests --gtest_filter=InkStainTest.*)
set_tests_properties(baltrap.draw inkstain.draw PROPERTIES LABELS render)
