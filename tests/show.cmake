# The bundled show (build/show: main.pl with the assets the build makes), run
# by the real player. The key tests send real key presses to the display the
# suite runs on, so they run alone (RUN_SERIAL): no other window may take the
# focus. They play the show as `cmake --install` lays it out.
if(NOT SHOWPLAYER_SHOW)
  return()
endif()
set(SHOW_TEST_DIR ${CMAKE_CURRENT_SOURCE_DIR}/show)

add_test(NAME show.install
  COMMAND bash ${SHOW_TEST_DIR}/install.sh ${PROJECT_BINARY_DIR} ${SHOW_TEST_DIR}/keys.sh)
set_tests_properties(show.install PROPERTIES LABELS script RUN_SERIAL TRUE TIMEOUT 90)

# scripts/demo without a display: its own Xvfb, its screenshots checked. It
# mostly waits for the show's clock, so it starts first (the highest cost) and
# overlaps the rest of the suite.
add_test(NAME show.demo
  COMMAND bash ${SHOW_TEST_DIR}/demo.sh ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
set_tests_properties(show.demo PROPERTIES LABELS demo TIMEOUT 90 COST 1000)

# The Debian package, made by cpack from this build and played unpacked. Its
# own label: CI builds the package once more itself (lintian, a real install),
# and the suite's later runs (sdl12-compat, sanitizers) leave it out.
add_test(NAME show.package COMMAND bash ${SHOW_TEST_DIR}/package.sh ${PROJECT_BINARY_DIR})
set_tests_properties(show.package PROPERTIES LABELS package TIMEOUT 120)
