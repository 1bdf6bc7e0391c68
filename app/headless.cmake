# quarvel-capture: the proxy and the capture engine without any widget, for
# machines without a display and for benchmarks.
add_library(headless STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/headless/CaptureOptions.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/headless/CaptureOptions.h
    ${CMAKE_CURRENT_SOURCE_DIR}/headless/CaptureReport.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/headless/CaptureReport.h
    ${CMAKE_CURRENT_SOURCE_DIR}/headless/PatternDigest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/headless/PatternDigest.h)
target_include_directories(headless PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/headless)
target_link_libraries(headless PUBLIC capture settings Qt5::Core)

if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/headless/main.cpp)
  add_executable(quarvel-capture ${CMAKE_CURRENT_SOURCE_DIR}/headless/main.cpp)
  target_link_libraries(quarvel-capture PRIVATE headless capture archivestore i18n settings Qt5::Core Qt5::Network Qt5::Sql)
  install(TARGETS quarvel-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
