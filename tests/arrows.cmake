# The include-arrow check (scripts/check-arrows) on planted trees; the real
# tree is checked by scripts/test.
add_test(NAME arrows.planted
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/arrows/planted.sh ${PROJECT_SOURCE_DIR}/scripts/check-arrows)
set_tests_properties(arrows.planted PROPERTIES LABELS unit)
