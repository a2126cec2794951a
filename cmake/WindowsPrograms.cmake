# The Windows programs beside the floors: the Win32 platform (src/platform/win32) and
# brindlemark-cli.exe from the command line's own sources (src/app/cli/Sources.cmake), with
# their tests, which run under wine (scripts/test-windows.sh). Included by cmake/FloorsOnly.cmake.
add_subdirectory(${PROJECT_SOURCE_DIR}/src/platform/win32 ${CMAKE_BINARY_DIR}/platform-win32)

# The port list both programs offer, over the COM ports.
add_library(bm_app_ports STATIC ${PROJECT_SOURCE_DIR}/src/app/PortOptions.cpp)
target_include_directories(bm_app_ports PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(bm_app_ports PUBLIC bm_platform bm_platform_sim bm_platform_win32)

include(${PROJECT_SOURCE_DIR}/src/app/cli/Sources.cmake)
add_library(bm_cli STATIC ${bm_cli_library_sources})
target_include_directories(bm_cli PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_compile_definitions(bm_cli PRIVATE UNICODE _UNICODE)
target_link_libraries(bm_cli PUBLIC bm_command_line bm_app_ports bm_shell_core bm_platform_win32 bm_header_only)

# brindlemark-cli.exe: the same commands and options as on Linux, over the Win32 platform.
add_executable(brindlemark-cli ${bm_cli_program_sources})
target_compile_definitions(brindlemark-cli PRIVATE BRINDLEMARK_VERSION_TEXT="${BRINDLEMARK_VERSION_TEXT}")
# bm_records refuses a record on Windows for now (src/records/RecordStoreStub.cpp).
target_link_libraries(brindlemark-cli PRIVATE bm_cli bm_records)

# The Win32 platform's tests that need no device: the loop's timers, reply waits, interrupts and
# children (with a helper child of their own), change notifications, the port list's rescan, the
# port's reasons for not opening. Those that need a COM port take the one the test script maps to
# a simulated target (BM_TEST_SIM_PORT, BM_TEST_HANGUP_PORT); they are skipped without it, and
# never run beside each other (one port, one test at a time).
add_executable(win32_test_child ${t}/platform/Win32TestChild.cpp)
target_link_libraries(win32_test_child PRIVATE bm_platform_win32)
bm_floor_test(platform_win32_test
  SOURCES ${t}/platform/Win32LoopTest.cpp ${t}/platform/Win32PortsTest.cpp
  LIBS bm_platform_win32)
add_dependencies(platform_win32_test win32_test_child)
add_executable(platform_win32_port_test ${t}/platform/Win32SerialPortTest.cpp)
target_link_libraries(platform_win32_port_test PRIVATE bm_test_support bm_platform_win32)
gtest_discover_tests(platform_win32_port_test DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                     PROPERTIES LABELS windows RESOURCE_LOCK simulated-target-port)

# The command line's system file on Windows: reserved device names, port names, log folders.
bm_floor_test(cli_windows_test SOURCES ${t}/app/CliWindowsTest.cpp LIBS bm_cli)
