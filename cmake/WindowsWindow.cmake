# brindlemark.exe: the desktop window on the Win32 API (src/shell/win32), its event loop and
# dialogs (src/platform/win32), its program (src/app/desktop-win32), and their tests under wine:
# the view's logic without a screen, the real window in process and the program driven from
# outside, both on a virtual X display (xvfb-run). Included by cmake/FloorsOnly.cmake.

# The window's loop watches the open serial lines of the Windows platform (ReceivingLines).
add_library(bm_platform_win32_window STATIC
  ${PROJECT_SOURCE_DIR}/src/platform/win32/WindowLoop.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/win32/Win32Dialogs.cpp)
target_include_directories(bm_platform_win32_window PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(bm_platform_win32_window PUBLIC bm_platform bm_platform_win32 winmm comdlg32 user32)
# The W calls by default, no min/max macros, the calls of Windows 10 declared.
target_compile_definitions(bm_platform_win32_window PUBLIC UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0A00)

set(w ${PROJECT_SOURCE_DIR}/src/shell/win32)
add_library(bm_shell_win32 STATIC
  ${w}/Layout.cpp ${w}/MainWindow.cpp ${w}/OtherWindows.cpp ${w}/Text.cpp ${w}/Ui.cpp
  ${w}/WindowDisplay.cpp)
target_include_directories(bm_shell_win32 PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(bm_shell_win32 PUBLIC bm_shell_core bm_platform_win32 comctl32 gdi32 shell32 user32)
target_compile_definitions(bm_shell_win32 PUBLIC UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0A00)

# The version text for the resource script, which takes no quoted definition from the command line.
set(bm_rc_dir ${CMAKE_BINARY_DIR}/desktop-win32)
file(MAKE_DIRECTORY ${bm_rc_dir})
file(WRITE ${bm_rc_dir}/version.h.new "#define BRINDLEMARK_VERSION_TEXT \"${BRINDLEMARK_VERSION_TEXT}\"\n")
configure_file(${bm_rc_dir}/version.h.new ${bm_rc_dir}/version.h COPYONLY)

set(d ${PROJECT_SOURCE_DIR}/src/app/desktop-win32)
add_executable(brindlemark WIN32 ${d}/main.cpp ${d}/brindlemark.rc)
set_source_files_properties(${d}/brindlemark.rc PROPERTIES
  OBJECT_DEPENDS "${d}/brindlemark.ico;${d}/brindlemark.manifest;${bm_rc_dir}/version.h")
target_include_directories(brindlemark PRIVATE ${bm_rc_dir})
target_link_options(brindlemark PRIVATE -municode)
# The same port list as brindlemark-cli.exe's: COM ports, --port devices, the simulated target.
target_link_libraries(brindlemark PRIVATE bm_shell_win32 bm_platform_win32_window bm_app_ports)

# --- Tests ------------------------------------------------------------------------------------
set(t ${PROJECT_SOURCE_DIR}/tests)
# Without a screen: texts, styled runs, the file dialog's filter, the loop.
bm_floor_test(win32_view_test
  SOURCES ${t}/shell/win32/TextTest.cpp ${t}/platform/win32/WindowLoopTest.cpp
          ${t}/platform/win32/Win32DialogsTest.cpp
  LIBS bm_shell_win32 bm_platform_win32_window)

# On a screen: wine's windows need one (tests/shell/win32/on-screen.sh: the display there is, else
# a virtual one).
find_program(XVFB_RUN xvfb-run)
set(on_screen ${t}/shell/win32/on-screen.sh)
if(XVFB_RUN)
  # The real window in process, over a presenter with recorded dialogs and the simulated target.
  add_executable(win32_window_test ${t}/shell/win32/MainWindowTest.cpp)
  target_link_libraries(win32_window_test PRIVATE bm_test_support bm_shell_win32 bm_platform_sim bm_packwriter)
  add_test(NAME win32_window_test COMMAND ${on_screen} $<TARGET_FILE:win32_window_test>)
  # brindlemark.exe started and driven from outside: window messages in, captions read back.
  add_executable(win32_window_driver ${t}/shell/win32/WindowDriverTest.cpp)
  target_link_libraries(win32_window_driver PRIVATE GTest::gtest bm_shell_win32 bm_packwriter)
  target_include_directories(win32_window_driver PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME win32_window_driver
           COMMAND ${on_screen} $<TARGET_FILE:win32_window_driver> $<TARGET_FILE:brindlemark>)
  set_tests_properties(win32_window_test win32_window_driver PROPERTIES LABELS "windows;window" TIMEOUT 300
                       RUN_SERIAL TRUE)
else()
  message(STATUS "xvfb-run not found: the Win32 window's tests on a screen are left out")
endif()
