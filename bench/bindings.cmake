# Binding call costs against their pure-Perl equivalents, side by side in one
# embedded interpreter: OpenGL::glSpacePressed (goal <= 0.8) and
# OpenGL::glGetTime (goal <= 1.1) against an empty Perl sub returning a number,
# Image::SetParams with eleven keys against a Perl sub reading them (<= 1.0);
# 100,000 Image->new in one run (goal < 1 s).
add_executable(binding_bench ${CMAKE_CURRENT_SOURCE_DIR}/bindings/BindingCostBench.cpp)
target_link_libraries(binding_bench PRIVATE perlsupport)
add_test(NAME bench.bindings.calls COMMAND binding_bench)
set_tests_properties(bench.bindings.calls PROPERTIES LABELS bench TIMEOUT 300)
