# Music fixtures, generated at build time with sox and lame (never downloaded).
# No dither (-D), so every build makes the same files.
#   tone.mp3   70 s stereo 44.1 kHz: a slow sweep on the left, a steady tone on the right
#   mono22.mp3 10 s mono 22.05 kHz sweep (resampling and channel layout)
#   clicks.mp3 20 s stereo 44.1 kHz: a 5 ms 1 kHz burst every 250 ms (sync on a real server)
set(FIXTURE_DIR ${CMAKE_BINARY_DIR}/fixtures)
file(MAKE_DIRECTORY ${FIXTURE_DIR})
find_program(SOX sox REQUIRED)
find_program(LAME lame REQUIRED)

add_custom_command(OUTPUT ${FIXTURE_DIR}/tone.mp3
  COMMAND ${SOX} -D -n -r 44100 -b 16 -c 2 ${FIXTURE_DIR}/tone.wav synth 70 sine 200-2000 sine 440 gain -6
  COMMAND ${LAME} --quiet -b 128 ${FIXTURE_DIR}/tone.wav ${FIXTURE_DIR}/tone.mp3
  COMMAND ${CMAKE_COMMAND} -E remove ${FIXTURE_DIR}/tone.wav
  VERBATIM)
add_custom_command(OUTPUT ${FIXTURE_DIR}/mono22.mp3
  COMMAND ${SOX} -D -n -r 22050 -b 16 -c 1 ${FIXTURE_DIR}/mono22.wav synth 10 sine 300-3000 gain -6
  COMMAND ${LAME} --quiet -b 64 ${FIXTURE_DIR}/mono22.wav ${FIXTURE_DIR}/mono22.mp3
  COMMAND ${CMAKE_COMMAND} -E remove ${FIXTURE_DIR}/mono22.wav
  VERBATIM)
add_custom_command(OUTPUT ${FIXTURE_DIR}/clicks.mp3
  COMMAND ${SOX} -D -n -r 44100 -b 16 -c 2 ${FIXTURE_DIR}/click.wav synth 0.005 sine 1000 gain -3 pad 0 0.245
  COMMAND ${SOX} -D ${FIXTURE_DIR}/click.wav ${FIXTURE_DIR}/clicks.wav repeat 79
  COMMAND ${LAME} --quiet -b 192 ${FIXTURE_DIR}/clicks.wav ${FIXTURE_DIR}/clicks.mp3
  COMMAND ${CMAKE_COMMAND} -E remove ${FIXTURE_DIR}/click.wav ${FIXTURE_DIR}/clicks.wav
  VERBATIM)
add_custom_target(fixtures ALL DEPENDS ${FIXTURE_DIR}/tone.mp3 ${FIXTURE_DIR}/mono22.mp3 ${FIXTURE_DIR}/clicks.mp3)
