# Registry and INI, system facts, waiting, loading system libraries.
target_sources(havrek_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/UtilsSystem.cpp)
if(WIN32)
  target_sources(havrek_shell PRIVATE ${CMAKE_CURRENT_LIST_DIR}/UtilsRegIniWin.cpp ${CMAKE_CURRENT_LIST_DIR}/UtilsSystemWin.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/UtilsWaitWin.cpp ${CMAKE_CURRENT_LIST_DIR}/UtilsDllWin.cpp)
endif()
