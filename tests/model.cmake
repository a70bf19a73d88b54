# The Model effect: scene loading and its defences (unit), drawing probes
# (render). Every scene comes from the scene tool's writer.
add_executable(model_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/model/ModelScenes.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/model/SceneLoadTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/model/ModelDrawTest.cpp)
target_link_libraries(model_tests PRIVATE showeffects scene3ds testsupport GTest::gtest_main ${CMAKE_DL_LIBS})

add_test(NAME model.load COMMAND model_tests --gtest_filter=SceneTool*:BadScene*)
set_tests_properties(model.load PROPERTIES LABELS unit TIMEOUT 60)
add_test(NAME model.draw COMMAND model_tests --gtest_filter=ModelDraw*)
set_tests_properties(model.draw PROPERTIES LABELS render TIMEOUT 120)
