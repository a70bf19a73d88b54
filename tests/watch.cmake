# Watch mode through the real player. Each test binary run has an X server of
# its own (800x600, the size of the player's window), so that screen reads see
# the player alone and key presses reach it.
add_library(glnames SHARED ${CMAKE_CURRENT_SOURCE_DIR}/watch/GlNames.cpp)
target_link_libraries(glnames PRIVATE PkgConfig::GLDEPS ${CMAKE_DL_LIBS})

add_executable(watch_tests ${CMAKE_CURRENT_SOURCE_DIR}/watch/WatchTest.cpp)
target_link_libraries(watch_tests PRIVATE testsupport scene3ds GTest::gtest_main)
target_compile_definitions(watch_tests PRIVATE GL_NAMES_LIBRARY="$<TARGET_FILE:glnames>")
add_dependencies(watch_tests showplayer fixtures glnames)
foreach(group EachSave ErrorScreen OldScripts:F1)
  string(REGEX REPLACE "([A-Za-z0-9]+)" "Watch.\\1*" filter "${group}")
  string(REGEX MATCH "^[A-Za-z0-9]+" name "${group}")
  add_test(NAME watch.${name}
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/with-xvfb --screen 800x600x24 $<TARGET_FILE:watch_tests> --gtest_filter=${filter})
  set_tests_properties(watch.${name} PROPERTIES LABELS script TIMEOUT 120)
endforeach()

# The folder watcher alone, on real folders.
add_executable(watcher_tests ${CMAKE_CURRENT_SOURCE_DIR}/watch/WatcherTest.cpp)
target_link_libraries(watcher_tests PRIVATE showwatch testsupport GTest::gtest_main)
add_test(NAME watch.watcher COMMAND watcher_tests)
set_tests_properties(watch.watcher PROPERTIES LABELS unit)
