# Soak: the player looping an all-effects show for ten minutes (resident
# memory after the first pass against the end), and a script that makes a new
# Image every frame for a minute. Label bench: never part of the suite.
add_test(NAME bench.soak
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/soak/run-soak.sh $<TARGET_FILE:showplayer> $<TARGET_FILE:make3ds>
          ${CMAKE_BINARY_DIR}/fixtures)
set_tests_properties(bench.soak PROPERTIES LABELS bench TIMEOUT 900)
