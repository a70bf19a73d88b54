# Recording: the frame-stepped clock (unit), and whole recordings through the
# real player, checked with ffprobe and ffmpeg.
find_program(FFMPEG ffmpeg REQUIRED)
find_program(FFPROBE ffprobe REQUIRED)

add_executable(record_clock_tests ${CMAKE_CURRENT_SOURCE_DIR}/record/VirtualClockTest.cpp)
target_link_libraries(record_clock_tests PRIVATE showaudio testsupport GTest::gtest_main)
add_dependencies(record_clock_tests fixtures)
add_test(NAME record.clock COMMAND record_clock_tests)
set_tests_properties(record.clock PROPERTIES LABELS unit)

add_executable(record_tests ${CMAKE_CURRENT_SOURCE_DIR}/record/RecordTest.cpp)
target_link_libraries(record_tests PRIVATE testsupport GTest::gtest_main)
add_dependencies(record_tests showplayer)
foreach(group FramesFollowTheVirtualClock SoundIsWhatTheAudienceHeard TwoRecordingsAreIdentical
              InterruptedShowLeavesACompleteFile RefusalsLeaveNothingBehind)
  add_test(NAME record.${group} COMMAND record_tests --gtest_filter=Record.${group})
  set_tests_properties(record.${group} PROPERTIES LABELS script)
endforeach()
