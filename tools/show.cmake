# The bundled show's assets, made at build time into the show folder (show/):
# the music derure.mp3 (makesong, encoded by lame), the pictures in
# show/images (makepictures) and the 3DS scene in show/models. None of them is
# committed; every build makes the same files.
set(SHOW_DIR ${CMAKE_SOURCE_DIR}/show)
set(SHOW_IMAGES ${SHOW_DIR}/images)
find_program(LAME lame REQUIRED)

add_executable(makesong ${CMAKE_CURRENT_SOURCE_DIR}/show/Song.cpp)
add_executable(makepictures ${CMAKE_CURRENT_SOURCE_DIR}/show/Pictures.cpp)

# Written under a temporary name and renamed, so that a player reading the show
# folder never sees half a file.
add_custom_command(OUTPUT ${SHOW_DIR}/derure.mp3
  COMMAND makesong ${CMAKE_CURRENT_BINARY_DIR}/derure.wav
  COMMAND ${LAME} --quiet -b 160 ${CMAKE_CURRENT_BINARY_DIR}/derure.wav ${CMAKE_CURRENT_BINARY_DIR}/derure.mp3
  COMMAND ${CMAKE_COMMAND} -E rename ${CMAKE_CURRENT_BINARY_DIR}/derure.mp3 ${SHOW_DIR}/derure.mp3
  COMMAND ${CMAKE_COMMAND} -E remove ${CMAKE_CURRENT_BINARY_DIR}/derure.wav
  DEPENDS makesong
  COMMENT "Composing the show's music"
  VERBATIM)

set(SHOW_PICTURES title.png credits.png ball.png card.png tiles.png panel.png)
list(TRANSFORM SHOW_PICTURES PREPEND ${SHOW_IMAGES}/ OUTPUT_VARIABLE SHOW_PICTURE_FILES)
add_custom_command(OUTPUT ${SHOW_PICTURE_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${SHOW_IMAGES}
  COMMAND makepictures ${SHOW_IMAGES}
  DEPENDS makepictures
  COMMENT "Painting the show's pictures"
  VERBATIM)

# The 3DS scene, from its description by the project's scene writer.
add_custom_command(OUTPUT ${SHOW_DIR}/models/room.3ds
  COMMAND ${CMAKE_COMMAND} -E make_directory ${SHOW_DIR}/models
  COMMAND make3ds ${CMAKE_CURRENT_SOURCE_DIR}/show/room.txt ${CMAKE_CURRENT_BINARY_DIR}/room.3ds
  COMMAND ${CMAKE_COMMAND} -E rename ${CMAKE_CURRENT_BINARY_DIR}/room.3ds ${SHOW_DIR}/models/room.3ds
  DEPENDS make3ds ${CMAKE_CURRENT_SOURCE_DIR}/show/room.txt
  COMMENT "Writing the show's 3DS scene"
  VERBATIM)

add_custom_target(showassets ALL DEPENDS ${SHOW_DIR}/derure.mp3 ${SHOW_PICTURE_FILES} ${SHOW_DIR}/models/room.3ds)
