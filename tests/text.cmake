# The player's own text: wrapping (no display) and drawing (GL under Xvfb).
add_executable(text_tests ${CMAKE_CURRENT_SOURCE_DIR}/text/TextPainterTest.cpp)
target_link_libraries(text_tests PRIVATE showrender testsupport GTest::gtest_main)
add_test(NAME text.wrap COMMAND text_tests --gtest_filter=Text.Wrap*)
set_tests_properties(text.wrap PROPERTIES LABELS unit)
add_test(NAME text.draw COMMAND text_tests --gtest_filter=Text.*:-Text.Wrap*)
set_tests_properties(text.draw PROPERTIES LABELS render)
