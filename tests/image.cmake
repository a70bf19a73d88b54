# Rendering core and the Image effect: texture loading and drawing probes (the
# Image package is tested with the other packages in bindings/).
find_program(CONVERT_IM6 convert-im6.q16 REQUIRED)
add_custom_command(OUTPUT ${FIXTURE_DIR}/translucent.png
  COMMAND ${CONVERT_IM6} -size 100x50 "xc:rgba(255,0,0,0.502)" PNG32:${FIXTURE_DIR}/translucent.png
  VERBATIM)
add_custom_target(image_fixtures ALL DEPENDS ${FIXTURE_DIR}/translucent.png)

add_executable(image_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/image/TextureTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/image/ImageDrawTest.cpp)
target_link_libraries(image_tests PRIVATE showeffects testsupport GTest::gtest_main)
add_dependencies(image_tests image_fixtures)

add_test(NAME image.powers COMMAND image_tests --gtest_filter=NextPowerOfTwo*:TextureName*)
set_tests_properties(image.powers PROPERTIES LABELS unit)
add_test(NAME image.texture COMMAND image_tests --gtest_filter=TextureTest*)
add_test(NAME image.draw COMMAND image_tests --gtest_filter=ImageDraw*)
set_tests_properties(image.texture image.draw PROPERTIES LABELS render)
