# Frame-rate harness shared by the effect benchmarks: the same frames drawn by
# a show script in the player and by a plain C++ program driving the effect
# classes directly, side by side in one run. An effect joins with
#   include(${CMAKE_CURRENT_SOURCE_DIR}/frames/FrameBench.cmake)
#   add_frame_bench(<Effect>)
# given bench/frames/<Effect>.pl (the show script) and a scene named <Effect>
# in one of frame_plain's scene files (registered in Scenes.h / FramePlain.cpp).
include_guard(GLOBAL)

add_executable(frame_plain
  ${CMAKE_CURRENT_LIST_DIR}/FramePlain.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ImageScene.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BalTrapInkStainScenes.cpp)
target_link_libraries(frame_plain PRIVATE showeffects)

function(add_frame_bench effect)
  add_test(NAME bench.frames.${effect}
    COMMAND ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/run-frames.sh ${effect}
            $<TARGET_FILE:showplayer> $<TARGET_FILE:frame_plain>
            ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${effect}.pl ${CMAKE_BINARY_DIR}/fixtures/tone.mp3)
  set_tests_properties(bench.frames.${effect} PROPERTIES LABELS bench TIMEOUT 600)
endfunction()
