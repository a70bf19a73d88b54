# Model frame rate: a scene of 50 object nodes and 102400 triangles played by
# the player against a plain C++ program calling the same display lists, one
# run each (goal: player / plain >= 0.9).
add_executable(model_plain ${CMAKE_CURRENT_SOURCE_DIR}/model/ModelPlain.cpp)
target_link_libraries(model_plain PRIVATE showeffects)
add_test(NAME bench.model.frames
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/model/run-model.sh $<TARGET_FILE:showplayer> $<TARGET_FILE:model_plain>
          $<TARGET_FILE:make3ds> ${CMAKE_CURRENT_SOURCE_DIR}/model/Model.pl ${CMAKE_BINARY_DIR}/fixtures/tone.mp3)
set_tests_properties(bench.model.frames PROPERTIES LABELS bench TIMEOUT 600)
