# Script bindings: the shared helpers (embedded interpreter, a test-only bound
# class), every key of every effect package, and the packages through real
# scripts run by the player.
add_executable(bindings_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/bindings/GlueTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/bindings/PackagesTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/bindings/PackagesScriptTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/bindings/OpenGLTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/model/ModelScenes.cpp)
target_link_libraries(bindings_tests PRIVATE perlsupport scene3ds GTest::gtest_main)
add_dependencies(bindings_tests showplayer fixtures)
add_test(NAME bindings.glue COMMAND bindings_tests --gtest_filter=Glue.*)
set_tests_properties(bindings.glue PROPERTIES LABELS unit)
add_test(NAME bindings.packages COMMAND bindings_tests --gtest_filter=Packages.*)
set_tests_properties(bindings.packages PROPERTIES LABELS render)
add_test(NAME bindings.opengl COMMAND bindings_tests --gtest_filter=OpenGL.*:PackagesScript.*)
set_tests_properties(bindings.opengl PROPERTIES LABELS script)
# Key events go to the focused window: nothing else may open one meanwhile.
add_test(NAME bindings.keys COMMAND bindings_tests --gtest_filter=OpenGLKeys.*)
set_tests_properties(bindings.keys PROPERTIES LABELS script RUN_SERIAL TRUE)
