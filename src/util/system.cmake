# Registry, INI, system facts, waiting and window helpers.
target_sources(havrek_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/UtilsSystem.cpp)
if(WIN32)
  target_sources(havrek_shell PRIVATE ${CMAKE_CURRENT_LIST_DIR}/UtilsSystemWin.cpp ${CMAKE_CURRENT_LIST_DIR}/UtilsWaitWin.cpp)
endif()
