# Sync tracks: values, files and the package in an embedded interpreter
# (unit); the real player with a sync editor's stand-in (script).
add_executable(sync_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/sync/TracksTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/sync/EditorTest.cpp)
target_link_libraries(sync_tests PRIVATE perlsupport showsync GTest::gtest_main)
add_dependencies(sync_tests showplayer fixtures)
add_test(NAME sync.tracks COMMAND sync_tests --gtest_filter=SyncTrack*:SyncFile*:SyncPackage*)
set_tests_properties(sync.tracks PROPERTIES LABELS unit)
# Each group has an X server of its own, so that key presses reach the player.
foreach(group Connection Faults Reload Transport Record)
  add_test(NAME sync.${group}
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/with-xvfb --screen 800x600x24 $<TARGET_FILE:sync_tests> --gtest_filter=SyncEditor${group}.*)
  set_tests_properties(sync.${group} PROPERTIES LABELS script TIMEOUT 120)
endforeach()
