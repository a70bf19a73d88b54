# Recording: the frame-stepped clock (unit), and whole recordings through the
# real player, checked with ffprobe and ffmpeg.
find_program(FFMPEG ffmpeg REQUIRED)
find_program(FFPROBE ffprobe REQUIRED)

add_executable(record_clock_tests ${CMAKE_CURRENT_SOURCE_DIR}/record/VirtualClockTest.cpp)
target_link_libraries(record_clock_tests PRIVATE showrecording testsupport GTest::gtest_main)
add_dependencies(record_clock_tests fixtures)
add_test(NAME record.clock COMMAND record_clock_tests)
set_tests_properties(record.clock PROPERTIES LABELS unit)

add_executable(record_tests ${CMAKE_CURRENT_SOURCE_DIR}/record/RecordTest.cpp)
target_link_libraries(record_tests PRIVATE testsupport GTest::gtest_main)
add_dependencies(record_tests showplayer)
foreach(group FramesAndSoundFollowTheVirtualClock InterruptedShowLeavesACompleteFile RefusalsLeaveNothingBehind
    PublishingOptions EndsOfARunKeepTheFilesRight)
  add_test(NAME record.${group} COMMAND record_tests --gtest_filter=Record.${group})
  set_tests_properties(record.${group} PROPERTIES LABELS script)
endforeach()

# The window-less context against the player's window, in one process.
add_executable(record_windowless_tests ${CMAKE_CURRENT_SOURCE_DIR}/record/WindowlessTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/model/ModelScenes.cpp)
target_link_libraries(record_windowless_tests PRIVATE showrecording testsupport scene3ds GTest::gtest_main)
add_test(NAME record.windowless COMMAND record_windowless_tests)
set_tests_properties(record.windowless PROPERTIES LABELS render)
