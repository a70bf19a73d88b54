# Fuzz harnesses (libFuzzer), built only in a separate clang build with
# -DSHOWPLAYER_FUZZ=ON and the fuzzer/sanitizer flags in CMAKE_CXX_FLAGS;
# bench/fuzz makes that build and runs each harness for a bounded time.
option(SHOWPLAYER_FUZZ "Build the libFuzzer harnesses (clang only)" OFF)
if(SHOWPLAYER_FUZZ)
  set(FUZZ_DIR ${CMAKE_SOURCE_DIR}/tests/fuzz)
  add_executable(fuzz_scene ${FUZZ_DIR}/SceneFuzz.cpp)
  target_link_libraries(fuzz_scene PRIVATE showeffects)
  add_executable(fuzz_image ${FUZZ_DIR}/ImageFuzz.cpp)
  target_link_libraries(fuzz_image PRIVATE showeffects)
  add_executable(fuzz_options ${FUZZ_DIR}/OptionsFuzz.cpp)
  target_link_libraries(fuzz_options PRIVATE showhost)
  foreach(harness fuzz_scene fuzz_image fuzz_options)
    target_link_options(${harness} PRIVATE -fsanitize=fuzzer)
  endforeach()
endif()
