# The command line's sources, the same on every system but the one file of its system's own
# (System.h: SystemPosix.cpp or SystemWin32.cpp). Taken by src/app/CMakeLists.txt and, for
# brindlemark-cli.exe, by cmake/WindowsPrograms.cmake.
set(bm_cli_library_sources
  ${CMAKE_CURRENT_LIST_DIR}/BoardSupervisor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CliLoad.cpp
  ${CMAKE_CURRENT_LIST_DIR}/EventLog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FileCheck.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LineBreaks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PortNames.cpp
)
if(WIN32)
  list(APPEND bm_cli_library_sources ${CMAKE_CURRENT_LIST_DIR}/SystemWin32.cpp)
else()
  list(APPEND bm_cli_library_sources ${CMAKE_CURRENT_LIST_DIR}/SystemPosix.cpp)
endif()
# The reading of the command line (its own library in the Windows build's floors).
set(bm_cli_command_line_sources ${CMAKE_CURRENT_LIST_DIR}/CommandLine.cpp)
set(bm_cli_program_sources
  ${CMAKE_CURRENT_LIST_DIR}/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CliPorts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CliRun.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CliGang.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CliLoaders.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CliStation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CliRecord.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CliRecords.cpp
)
