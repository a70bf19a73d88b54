# Image frame rate: a show drawing 200 Image objects against the plain C++
# program drawing the same frames (goal: player / plain >= 0.9).
include(${CMAKE_CURRENT_SOURCE_DIR}/frames/FrameBench.cmake)
add_frame_bench(Image)
