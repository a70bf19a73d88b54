# Sync tracks: $track->Value on 10,000 keys against an empty Perl sub (goal
# <= 1.0), resident memory of 1,000 tracks of 1,000 keys (<= 16 MB), and
# through the real player with a sync editor's stand-in: editor key to screen
# at 60 fps (<= one frame + 2 ms, median of 50) and the frame rate while the
# editor sends 10,000 keys a second (within 5 %).
if(TARGET testsupport)
  add_executable(synctracks_bench ${CMAKE_CURRENT_LIST_DIR}/sync/SyncTracksBench.cpp)
  target_link_libraries(synctracks_bench PRIVATE perlsupport showsync)
  add_dependencies(synctracks_bench showplayer fixtures)
  add_test(NAME bench.synctracks COMMAND ${CMAKE_SOURCE_DIR}/scripts/with-xvfb --screen 800x600x24 $<TARGET_FILE:synctracks_bench>)
  set_tests_properties(bench.synctracks PROPERTIES LABELS bench TIMEOUT 600)
endif()
