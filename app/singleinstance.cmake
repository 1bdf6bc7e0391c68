# Single-instance guard (no widgets): a lock file and a local socket.
add_library(singleinstance STATIC
    ${CMAKE_CURRENT_LIST_DIR}/SingleInstance.cpp ${CMAKE_CURRENT_LIST_DIR}/SingleInstance.h)
target_include_directories(singleinstance PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(singleinstance PUBLIC Qt5::Core Qt5::Network)
