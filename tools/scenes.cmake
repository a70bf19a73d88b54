# 3DS scenes: the writer library (also linked by tests) and the make3ds tool.
add_library(scene3ds STATIC ${CMAKE_CURRENT_LIST_DIR}/Scene3ds.cpp)
target_include_directories(scene3ds PUBLIC ${CMAKE_SOURCE_DIR})
add_executable(make3ds ${CMAKE_CURRENT_LIST_DIR}/make3ds.cpp)
target_link_libraries(make3ds PRIVATE scene3ds)

# make3ds_scene(<output.3ds> <description.txt>): a build rule writing the
# scene from its description (see tools/Scene3ds.h or `make3ds --help`); list
# the output in a custom target's DEPENDS to have it made.
function(make3ds_scene output description)
  add_custom_command(OUTPUT ${output}
    COMMAND make3ds ${description} ${output}
    DEPENDS make3ds ${description}
    COMMENT "Writing 3DS scene ${output}"
    VERBATIM)
endfunction()
