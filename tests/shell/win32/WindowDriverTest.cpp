// brindlemark.exe driven from outside, as a person's hand would: the program is started with
// the simulated target (or, given BM_TEST_WINDOW_PORT, searches the COM ports), its window found
// by its class, its controls reached by their ids
// (shell/win32/Layout.h) and pressed with WM_COMMAND; captions are read back with WM_GETTEXT,
// lamps from the colour each keeps in its window data. The file dialog is the system's own:
// the file's name is typed into it. Nothing here waits a fixed time: every step waits, with a
// generous limit, for what the window shows.
//
//   win32_window_driver.exe PATH-OF-brindlemark.exe [gtest options]
//
// With BM_WINDOW_SHOT=FILE set, the download test writes the window's place on the screen into
// FILE once the download has finished and waits until FILE is gone (scripts/windows-screenshot.sh
// takes its picture meanwhile).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "shell/core/StatusDisplay.h"
#include "shell/win32/Layout.h"
#include "shell/win32/OtherWindows.h"
#include "shell/win32/Text.h"
#include "shell/win32/Ui.h"
#include "support/WindowFiles.h"

namespace bm::win32 {
namespace {

using test::Fixtures;

std::wstring programPath;

constexpr int kLimitMs = 60000;

// Waits for `done`; false when the limit passed first.
bool WaitFor(const std::function<bool()>& done, int ms = kLimitMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > static_cast<DWORD>(ms)) return false;
    Sleep(20);
  }
  return true;
}

std::string TextOf(HWND w) {
  wchar_t text[1024] = L"";
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                           &length))
    return "<no answer>";
  return Utf8(text);
}

// The program under test, started and ended with the test.
class Program {
 public:
  // `simulated`: the simulated target is offered as port "sim".
  explicit Program(const std::vector<std::wstring>& args, bool simulated = true) {
    std::wstring line = L"\"" + programPath + L"\"";
    if (simulated) line += L" --simulated-target";
    for (const std::wstring& a : args) line += L" \"" + a + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    started_ = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process_);
    if (!started_) return;
    WaitFor([this] { return (main_ = TopWindow(kMainClass)) != nullptr && IsWindowVisible(main_); });
  }
  ~Program() {
    if (!started_) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.hProcess, 99);
      WaitForSingleObject(process_.hProcess, 10000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }

  HWND Main() const { return main_; }
  HWND Control(int id) const { return GetDlgItem(main_, id); }
  std::string Text(int id) const { return TextOf(Control(id)); }
  std::string Title() const { return TextOf(main_); }
  uint32_t Lamp(int id) const { return static_cast<uint32_t>(GetWindowLongPtrW(Control(id), GWLP_USERDATA)); }
  bool Enabled(int id) const { return IsWindowEnabled(Control(id)); }
  bool Checked(int id) const { return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  // A button pressed: its notification to the window, as a click sends it.
  void Press(int id) const {
    PostMessageW(main_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
  }
  void Menu(int id) const { PostMessageW(main_, WM_COMMAND, MAKEWPARAM(id, 0), 0); }
  bool WaitText(int id, const std::string& text) const {
    return WaitFor([&] { return Text(id) == text; });
  }

  // A visible top-level window of the program with this class (a null class: any).
  HWND TopWindow(const wchar_t* windowClass) const {
    struct Search {
      DWORD pid;
      const wchar_t* cls;
      HWND found = nullptr;
    } search{process_.dwProcessId, windowClass};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
          auto* s = reinterpret_cast<Search*>(p);
          DWORD pid = 0;
          GetWindowThreadProcessId(w, &pid);
          wchar_t cls[64] = L"";
          GetClassNameW(w, cls, 64);
          if (pid != s->pid || !IsWindowVisible(w) || lstrcmpW(cls, s->cls) != 0) return TRUE;
          s->found = w;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }
  // The text of a message box the program shows, or empty.
  std::string MessageShown() const {
    HWND box = TopWindow(L"#32770");
    return box ? TextOf(GetDlgItem(box, 0xFFFF)) : std::string();
  }
  bool Ended(DWORD* code) const {
    if (WaitForSingleObject(process_.hProcess, kLimitMs) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(process_.hProcess, code);
    return true;
  }

 private:
  bool started_ = false;
  PROCESS_INFORMATION process_{};
  HWND main_ = nullptr;
};

// Types `path` into the system's file dialog and opens it.
void ChooseInFileDialog(const Program& program, const std::string& path) {
  HWND dialog = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (dialog = program.TopWindow(L"#32770")) != nullptr; }))
      << "no file dialog";
  // The name field: the explorer dialog's combo box (cmb13) or, in the older one, its edit (edt1).
  HWND name = GetDlgItem(dialog, 0x47C);
  if (!name) name = GetDlgItem(dialog, 0x480);
  ASSERT_NE(name, nullptr);
  const std::wstring wide = Wide(path);
  SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); })) << "the dialog stayed open";
}

TEST(WindowUnderWine, LoadThroughTheFileDialogComportDownloadStopQuit) {
  Fixtures files;
  Program program({});
  ASSERT_NE(program.Main(), nullptr) << "no main window";
  EXPECT_EQ(program.Title(), "Brindlemark");
  EXPECT_EQ(program.Text(kModeLabel), "none");
  EXPECT_EQ(program.Lamp(kLedRed), Util::clMaroon) << "the creation state";
  EXPECT_EQ(program.Text(kStatus0), "");

  program.Press(kFOpenBtn);
  ChooseInFileDialog(program, files.Path("blink.ppro"));
  ASSERT_TRUE(WaitFor([&] { return program.Title() == "Brindlemark [blink.ppro]"; })) << program.Title();
  EXPECT_EQ(program.Text(kFNameCapt), "blink.ppro");
  EXPECT_EQ(program.Text(kFlashSizeCapt), "300 Bytes");
  EXPECT_EQ(program.Text(kEEpSizeCapt), "4 Bytes");
  EXPECT_EQ(program.Text(kSourceDevIDcapt), "1E950F");
  EXPECT_EQ(program.Text(kCPUnameCapt), "ATmega328P");
  EXPECT_EQ(program.Text(kModeLabel), "file loaded");
  EXPECT_EQ(program.Lamp(kLedYellow), Util::clYellow);
  EXPECT_EQ(program.Text(kBaudSelect), "57600");
  EXPECT_TRUE(program.Checked(kProgFlashChk));
  EXPECT_TRUE(program.Checked(kProgEEpChk));

  program.Press(kComportBtn);
  ASSERT_TRUE(program.WaitText(kModeLabel, "Target connected")) << program.Text(kModeLabel);
  EXPECT_EQ(program.Text(kStatus1), "COMport sim");
  EXPECT_EQ(program.Text(kTargDevIDcapt), "Device ID : &1E950F");
  EXPECT_EQ(program.Text(kTargLoaderIDcapt), "Loader ID : &101");
  EXPECT_EQ(program.Lamp(kLedGreen), Util::clLime);
  EXPECT_TRUE(program.Enabled(kDownLdBtn));

  program.Press(kDownLdBtn);
  ASSERT_TRUE(WaitFor([&] { return program.Text(kStatus0).rfind("Download finished", 0) == 0; }))
      << program.Text(kStatus0) << " / " << program.MessageShown();
  EXPECT_EQ(program.Text(kStatus0).rfind("Download finished and verified in ", 0), 0u)
      << program.Text(kStatus0);
  EXPECT_EQ(program.Text(kModeLabel), "Target connected");
  EXPECT_EQ(program.Lamp(kLedRed), Util::clMaroon) << "the blinking stopped";
  EXPECT_EQ(program.MessageShown(), "") << "no box";

  if (const char* shot = std::getenv("BM_WINDOW_SHOT")) {
    RECT r;
    GetWindowRect(program.Main(), &r);
    if (FILE* out = std::fopen(shot, "w")) {
      std::fprintf(out, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
      std::fclose(out);
    }
    WaitFor([&] { return GetFileAttributesA(shot) == INVALID_FILE_ATTRIBUTES; }, 120000);
  }

  program.Press(kStopBtn);
  ASSERT_TRUE(program.WaitText(kModeLabel, "file loaded"));
  EXPECT_EQ(program.Text(kStatus0), "");
  EXPECT_FALSE(program.Enabled(kDownLdBtn));

  program.Menu(kMenuQuit);
  DWORD code = 1;
  ASSERT_TRUE(program.Ended(&code)) << "File > Quit ends the program";
  EXPECT_EQ(code, 0u);
}

TEST(WindowUnderWine, TheCommandLinesFileInAFolderThatIsNotAsciiAndTheOtherWindows) {
  Fixtures files;
  Program program({files.folder.wstring() + L"\\blink.pac"});
  ASSERT_NE(program.Main(), nullptr) << "no main window";
  ASSERT_TRUE(WaitFor([&] { return program.Title() == "Brindlemark [blink.pac]"; })) << program.Title();
  EXPECT_EQ(program.Text(kFNameCapt), "blink.pac");
  EXPECT_EQ(program.Text(kCPUnameCapt), "ATmega328P");
  EXPECT_EQ(program.MessageShown(), "");

  program.Menu(kMenuPara);
  HWND list = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (list = program.TopWindow(kParamListClass)) != nullptr; }));
  EXPECT_EQ(TextOf(list), "Parameter list of Blink pack");
  PostMessageW(list, WM_COMMAND, MAKEWPARAM(kOKbutton, BN_CLICKED), 0);
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(list); })) << "OK closes it";

  program.Menu(kMenuHelpContents);
  HWND help = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (help = program.TopWindow(kHelpClass)) != nullptr; }));
  EXPECT_EQ(TextOf(help), "Brindlemark Help");
  EXPECT_EQ(TextOf(GetDlgItem(help, kHelpText)).rfind("Brindlemark\r", 0), 0u)
      << "the heading, without its #";

  PostMessageW(program.Main(), WM_CLOSE, 0, 0);
  DWORD code = 1;
  ASSERT_TRUE(program.Ended(&code)) << "closing the window ends the program";
  EXPECT_EQ(code, 0u);
}

// The window's search through the system's COM ports, as a user's is: the test script maps
// BM_TEST_WINDOW_PORT to a simulated target of its own, has the window download
// BM_TEST_WINDOW_FILE (a project) into it, and checks afterwards that the target holds its image.
TEST(WindowUnderWine, DownloadThroughACOMPortTheSearchFound) {
  const char* port = std::getenv("BM_TEST_WINDOW_PORT");
  const char* project = std::getenv("BM_TEST_WINDOW_FILE");
  if (!port || !project)
    GTEST_SKIP() << "BM_TEST_WINDOW_PORT and BM_TEST_WINDOW_FILE name no COM port mapped to a "
                    "simulated target and no project for it";
  Program program({Wide(project)}, false);
  ASSERT_NE(program.Main(), nullptr) << "no main window";
  const std::string name = std::filesystem::path(project).filename().string();
  ASSERT_TRUE(WaitFor([&] { return program.Title() == "Brindlemark [" + name + "]"; })) << program.Title();

  program.Press(kComportBtn);
  ASSERT_TRUE(program.WaitText(kModeLabel, "Target connected"))
      << program.Text(kModeLabel) << " / " << program.Text(kStatus1) << " / " << program.MessageShown();
  EXPECT_EQ(program.Text(kStatus1), std::string("COMport ") + port);
  EXPECT_EQ(program.Text(kTargDevIDcapt), "Device ID : &1E950F");

  program.Press(kDownLdBtn);
  ASSERT_TRUE(WaitFor([&] { return program.Text(kStatus0).rfind("Download finished", 0) == 0; }))
      << program.Text(kStatus0) << " / " << program.MessageShown();
  EXPECT_EQ(program.Text(kStatus0).rfind("Download finished and verified in ", 0), 0u)
      << program.Text(kStatus0);
  EXPECT_EQ(program.MessageShown(), "") << "no box";

  program.Menu(kMenuQuit);
  DWORD code = 1;
  ASSERT_TRUE(program.Ended(&code)) << "File > Quit ends the program";
  EXPECT_EQ(code, 0u);
}

}  // namespace
}  // namespace bm::win32

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: win32_window_driver PATH-OF-brindlemark.exe [gtest options]\n");
    return 2;
  }
  bm::win32::programPath = bm::win32::Wide(argv[1]);
  return RUN_ALL_TESTS();
}
