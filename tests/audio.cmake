# Music component: clock logic (unit), playback on SDL's dummy and disk audio
# drivers with the generated fixtures, and the player's sound stage.
add_executable(audio_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/audio/AudioSupport.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/audio/ClockTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/audio/MusicTest.cpp)
target_link_libraries(audio_tests PRIVATE showaudio testsupport GTest::gtest_main)
add_dependencies(audio_tests fixtures)
add_test(NAME audio.clock COMMAND audio_tests --gtest_filter=Clock*)
set_tests_properties(audio.clock PROPERTIES LABELS unit)
add_test(NAME audio.music COMMAND audio_tests --gtest_filter=Music*)
set_tests_properties(audio.music PROPERTIES LABELS unit)

add_executable(audio_stage_tests ${CMAKE_CURRENT_SOURCE_DIR}/audio/SoundStageTest.cpp)
target_link_libraries(audio_stage_tests PRIVATE testsupport GTest::gtest_main)
add_dependencies(audio_stage_tests showplayer fixtures)
add_test(NAME audio.stage COMMAND audio_stage_tests)
set_tests_properties(audio.stage PROPERTIES LABELS script)

# The clock on a private PulseAudio server and a private PipeWire stack (the
# tests start and end them), also through restarts of the servers.
add_executable(audio_pulse_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/audio/AudioSupport.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/audio/PulseTest.cpp)
target_link_libraries(audio_pulse_tests PRIVATE showaudio testsupport GTest::gtest_main)
add_dependencies(audio_pulse_tests fixtures)
add_test(NAME audio.pulse COMMAND audio_pulse_tests --gtest_filter=Pulse*)
# The same on a private PipeWire stack (native and through pipewire-pulse, two
# graph quanta), also through restarts.
add_test(NAME audio.pipewire COMMAND audio_pulse_tests --gtest_filter=PipeWire*)
# They time what a sound server plays to the millisecond: they run alone, so
# that the suite's other players do not take the CPU from their threads.
set_tests_properties(audio.pulse audio.pipewire PROPERTIES LABELS "unit;server" RUN_SERIAL ON)
