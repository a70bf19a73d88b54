# The bundled show, made at build time into build/show: a copy of show/main.pl
# beside its assets, the music derure.mp3 (makesong, encoded by lame), the
# pictures in images/ (makepictures), the 3DS scene in models/ and the sync
# track files (maketracks). Nothing is
# written into the source tree; every build makes the same files.
# `cmake --install` puts the folder under share/showplayer/show.
set(SHOW_DIR ${PROJECT_BINARY_DIR}/show)
set(SHOW_IMAGES ${SHOW_DIR}/images)
set(SHOW_WORK ${CMAKE_CURRENT_BINARY_DIR}/show-work)
file(MAKE_DIRECTORY ${SHOW_WORK} ${SHOW_DIR})
find_program(LAME lame REQUIRED)

add_executable(makesong ${CMAKE_CURRENT_SOURCE_DIR}/show/Song.cpp)
add_executable(makepictures ${CMAKE_CURRENT_SOURCE_DIR}/show/Pictures.cpp)
add_executable(maketracks ${CMAKE_CURRENT_SOURCE_DIR}/show/Tracks.cpp)
target_link_libraries(maketracks PRIVATE showsync)

add_custom_command(OUTPUT ${SHOW_DIR}/main.pl
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/show/main.pl ${SHOW_DIR}/main.pl
  DEPENDS ${PROJECT_SOURCE_DIR}/show/main.pl
  COMMENT "Copying the show's script"
  VERBATIM)

# Written under a temporary name and renamed, so that a player reading the show
# folder never sees half a file.
add_custom_command(OUTPUT ${SHOW_DIR}/derure.mp3
  COMMAND makesong ${SHOW_WORK}/derure.wav
  COMMAND ${LAME} --quiet -b 160 ${SHOW_WORK}/derure.wav ${SHOW_WORK}/derure.mp3
  COMMAND ${CMAKE_COMMAND} -E rename ${SHOW_WORK}/derure.mp3 ${SHOW_DIR}/derure.mp3
  COMMAND ${CMAKE_COMMAND} -E remove ${SHOW_WORK}/derure.wav
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
  COMMAND make3ds ${CMAKE_CURRENT_SOURCE_DIR}/show/room.txt ${SHOW_WORK}/room.3ds
  COMMAND ${CMAKE_COMMAND} -E rename ${SHOW_WORK}/room.3ds ${SHOW_DIR}/models/room.3ds
  DEPENDS make3ds ${CMAKE_CURRENT_SOURCE_DIR}/show/room.txt
  COMMENT "Writing the show's 3DS scene"
  VERBATIM)

# The sync tracks the show reads when no sync editor is connected.
set(SHOW_TRACK_FILES sync_room-3Axoff.track sync_room-3Ayoff.track sync_room-3Aflash.track)
list(TRANSFORM SHOW_TRACK_FILES PREPEND ${SHOW_DIR}/)
add_custom_command(OUTPUT ${SHOW_TRACK_FILES}
  COMMAND maketracks ${SHOW_DIR}
  DEPENDS maketracks
  COMMENT "Writing the show's sync tracks"
  VERBATIM)

add_custom_target(showassets ALL
  DEPENDS ${SHOW_DIR}/main.pl ${SHOW_DIR}/derure.mp3 ${SHOW_PICTURE_FILES} ${SHOW_DIR}/models/room.3ds
  ${SHOW_TRACK_FILES})

install(FILES ${SHOW_DIR}/main.pl ${SHOW_DIR}/derure.mp3 ${SHOW_TRACK_FILES} DESTINATION share/showplayer/show)
install(FILES ${SHOW_PICTURE_FILES} DESTINATION share/showplayer/show/images)
install(FILES ${SHOW_DIR}/models/room.3ds DESTINATION share/showplayer/show/models)
