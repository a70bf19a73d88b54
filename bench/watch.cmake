# Watch mode: save-to-first-frame time of a reload (a small script and the
# bundled show) and resident memory over 50 reloads of the bundled show.
if(TARGET testsupport)
  add_executable(watch_bench ${CMAKE_CURRENT_LIST_DIR}/watch/ReloadBench.cpp)
  target_link_libraries(watch_bench PRIVATE testsupport)
  add_dependencies(watch_bench showplayer fixtures)
  add_test(NAME bench.watch COMMAND watch_bench ${CMAKE_BINARY_DIR}/show 50)
  set_tests_properties(bench.watch PROPERTIES LABELS bench TIMEOUT 600)
endif()
