# Recording speed: the bundled show recorded at 800x600 against the same frames
# drawn without read-back or encoding, side by side in one process, at 30 and
# 60 fps (goal: record / draw >= 0.8); the rate and the file size at 30 fps.
add_executable(record_bench ${CMAKE_CURRENT_SOURCE_DIR}/record/RecordBench.cpp)
target_link_libraries(record_bench PRIVATE showrecording)
# Beside the player, where the recording module is looked for.
set_target_properties(record_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_test(NAME bench.record
  COMMAND ${CMAKE_COMMAND} -E env SDL_AUDIODRIVER=dummy
          sh -c "mkdir -p '${CMAKE_BINARY_DIR}/bench-record' && exec '$<TARGET_FILE:record_bench>' '${CMAKE_BINARY_DIR}/show' '${CMAKE_BINARY_DIR}/bench-record'")
set_tests_properties(bench.record PROPERTIES LABELS bench TIMEOUT 1200)

# Recording for publishing: frames per second of each quality setting and
# format at 800x600 and 1440x1080, and how well the work spreads over the cores.
add_test(NAME bench.record.publishing
  COMMAND ${CMAKE_COMMAND} -E env SDL_AUDIODRIVER=dummy --unset=DISPLAY
          ${CMAKE_CURRENT_SOURCE_DIR}/record/run-publishing.sh $<TARGET_FILE:showplayer>
          ${CMAKE_BINARY_DIR}/show ${CMAKE_BINARY_DIR}/bench-record-publishing)
set_tests_properties(bench.record.publishing PROPERTIES LABELS bench TIMEOUT 1800)
