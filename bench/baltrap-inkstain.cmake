# BalTrap and InkStain frame rates: shows drawing 200 objects of each against
# the plain C++ program drawing the same frames (goal: player / plain >= 0.9).
include(${CMAKE_CURRENT_SOURCE_DIR}/frames/FrameBench.cmake)
add_frame_bench(BalTrap)
add_frame_bench(InkStain)
# Every InkStain object fills most of the window three times over, so a few
# cards already make a frame heavy for a software renderer.
set_tests_properties(bench.frames.InkStain PROPERTIES ENVIRONMENT "BENCH_OBJECTS=20")
