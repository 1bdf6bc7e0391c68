# Dialogs of the application frame and the desktop executable.
# Included from app/CMakeLists.txt.

add_library(appdialogs STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ProfilesDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/ProfilesDialog.h
    ${CMAKE_CURRENT_LIST_DIR}/InterPassDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/InterPassDialog.h
    ${CMAKE_CURRENT_LIST_DIR}/SettingsDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/SettingsDialog.h
    ${CMAKE_CURRENT_LIST_DIR}/forms/ProfilesDialog.ui
    ${CMAKE_CURRENT_LIST_DIR}/forms/InterPassDialog.ui
    ${CMAKE_CURRENT_LIST_DIR}/forms/SettingsDialog.ui)
target_include_directories(appdialogs PUBLIC ${CMAKE_CURRENT_LIST_DIR})
# The test connection is opened as the program's other connections are (capture's DbConnection).
target_link_libraries(appdialogs PUBLIC capture settings i18n resources Qt5::Widgets Qt5::Sql)
set_target_properties(appdialogs PROPERTIES AUTOUIC_SEARCH_PATHS "${CMAKE_CURRENT_LIST_DIR}/forms")

add_executable(quarvel ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
install(TARGETS quarvel)
set(_programs quarvel)
if(QUARVEL_BUILD_TESTS)
  # The same program with the tests' hook that closes its start-up dialogs.
  add_executable(quarvel-autoclose ${CMAKE_CURRENT_LIST_DIR}/main.cpp ${CMAKE_SOURCE_DIR}/tests/app/AutoCloseHook.cpp)
  list(APPEND _programs quarvel-autoclose)
endif()

# Target names are resolved when the build is generated, so `ui` (configured
# later, from ui/) can be named here.
foreach(_p ${_programs})
  target_compile_definitions(${_p} PRIVATE QUARVEL_DEFAULT_DATA_DIR="${QUARVEL_DATA_INSTALL_DIR}")
  target_link_libraries(${_p} PRIVATE buildinfo ui appdialogs capture singleinstance settings i18n resources
                        Qt5::Widgets Qt5::Sql Qt5::Network)
endforeach()
