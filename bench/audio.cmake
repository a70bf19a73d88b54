# Music benchmarks.
#   bench.audio.clock: smoothness of the music clock on SDL's dummy driver
#     (step jitter goal <= 0.5 ms, drift from consumed samples goal <= 1 ms).
#   bench.audio.startup: exec to the first line of main with a 5-minute MP3,
#     against a bare SDL program opening the same window (goal <= 1.10 x bare).
add_executable(clock_bench ${CMAKE_CURRENT_SOURCE_DIR}/audio/ClockBench.cpp)
target_link_libraries(clock_bench PRIVATE showaudio)
add_test(NAME bench.audio.clock COMMAND clock_bench ${CMAKE_BINARY_DIR}/fixtures/tone.mp3 20)
set_tests_properties(bench.audio.clock PROPERTIES LABELS bench TIMEOUT 120)

add_executable(bare_window ${CMAKE_CURRENT_SOURCE_DIR}/audio/BareWindow.cpp)
target_link_libraries(bare_window PRIVATE PkgConfig::SDL PkgConfig::GLDEPS)
add_executable(startup_bench ${CMAKE_CURRENT_SOURCE_DIR}/audio/StartupBench.cpp)
add_test(NAME bench.audio.startup
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/audio/run-startup.sh $<TARGET_FILE:showplayer> $<TARGET_FILE:bare_window>
          $<TARGET_FILE:startup_bench> ${CMAKE_BINARY_DIR}/fixtures 10)
set_tests_properties(bench.audio.startup PROPERTIES LABELS bench TIMEOUT 300)

#   bench.audio.sync: the clock on a private PulseAudio server against the
#     clicks heard on its monitor, and a minute beside two CPU hogs (set
#     SHOWPLAYER_REFERENCE to another showplayer binary to compare its dropouts).
add_executable(sync_bench ${CMAKE_CURRENT_SOURCE_DIR}/audio/SyncBench.cpp
  ${CMAKE_SOURCE_DIR}/tests/audio/AudioSupport.cpp)
target_link_libraries(sync_bench PRIVATE showaudio)
add_dependencies(sync_bench fixtures)
add_test(NAME bench.audio.sync
  COMMAND sync_bench ${CMAKE_BINARY_DIR}/fixtures/clicks.mp3 ${CMAKE_BINARY_DIR}/fixtures/tone.mp3 60)
set_tests_properties(bench.audio.sync PROPERTIES LABELS bench TIMEOUT 800)
