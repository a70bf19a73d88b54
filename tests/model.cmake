# The Model effect: scene loading and its defences, drawing probes, the Model
# package through the player; scenes come from the scene tool's writer.
add_executable(model_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/model/ModelScenes.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/model/ModelDrawTest.cpp)
target_link_libraries(model_tests PRIVATE showeffects scene3ds testsupport GTest::gtest_main)

add_test(NAME model.draw COMMAND model_tests --gtest_filter=ModelDraw*)
set_tests_properties(model.draw PROPERTIES LABELS render)
