# The bundled show (show/main.pl with the assets the build makes), run by the
# real player. The key tests send real key presses to the display the suite
# runs on, so they run alone (RUN_SERIAL): no other window may take the focus.
set(SHOW_TEST_DIR ${CMAKE_CURRENT_SOURCE_DIR}/show)

add_test(NAME show.keys
  COMMAND bash ${SHOW_TEST_DIR}/keys.sh $<TARGET_FILE:showplayer> ${CMAKE_SOURCE_DIR}/show)
set_tests_properties(show.keys PROPERTIES LABELS script RUN_SERIAL TRUE TIMEOUT 60)

# scripts/demo without a display: its own Xvfb, its screenshots checked.
add_test(NAME show.demo
  COMMAND bash ${SHOW_TEST_DIR}/demo.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
set_tests_properties(show.demo PROPERTIES LABELS demo TIMEOUT 90)
