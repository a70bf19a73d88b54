# 3DS scenes: the writer library (also linked by tests) and the make3ds tool.
add_library(scene3ds STATIC ${CMAKE_CURRENT_LIST_DIR}/Scene3ds.cpp)
target_include_directories(scene3ds PUBLIC ${CMAKE_SOURCE_DIR})
add_executable(make3ds ${CMAKE_CURRENT_LIST_DIR}/make3ds.cpp)
target_link_libraries(make3ds PRIVATE scene3ds)
