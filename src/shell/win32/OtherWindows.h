// The main window's other windows: About, the help and release notes, the parameter list and
// the question a close during a run asks. Each is a top-level window owned by the main window;
// Esc and the Close key (Ctrl+W, Ctrl+F4) close About, Help and the parameter list.
//
//  - AboutWindow (one instance): the icon, name, version, the styled credits (a read-only rich
//    edit field; Ctrl+A selects the whole text) and the notice; 284 × 326 with the credits,
//    178 × without; untitled.
//  - HelpWindow (one instance, reused for either text): a read-only rich edit field with the
//    Markdown shown styled, and Close. Not modal; it can be resized.
//  - ParamListWindow (dParamListWND): the parameters of the pack read last, twelve rows of a
//    two-column list with alternating backgrounds, and OK. It copies the texts when it opens;
//    closed, it is destroyed, so the next one starts afresh.
//  - QuitQuestion: "A download is running. Stop it and quit?" with Yes and No (No the default),
//    modal to the main window but not to the run: the message loop keeps turning, and the run
//    with it, while it is open.
#pragma once

#include <functional>
#include <string>

#include "images/dParamList.h"

struct HWND__;

namespace bm::win32 {

// The window classes, for the UI automation.
inline constexpr const wchar_t* kAboutClass = L"BrindlemarkAbout";
inline constexpr const wchar_t* kHelpClass = L"BrindlemarkHelp";
inline constexpr const wchar_t* kParamListClass = L"BrindlemarkParamList";
inline constexpr const wchar_t* kQuestionClass = L"BrindlemarkQuestion";

// Child ids in those windows.
enum OtherId : int {
  kAppIconCanvas = 401,
  kStatAppName,
  kStatAppVersion,
  kEditAppCredits,
  kStatAppNotice,
  kHelpText = 411,
  kHelpClose,
  kListBox1 = 421,
  kOKbutton,
  kQuestionText = 431,
};

class AboutWindow {
 public:
  explicit AboutWindow(HWND__* owner);
  ~AboutWindow();
  void Show(bool useCredits);
  void SetupWindow();
  HWND__* Handle() const { return window_; }
  bool UseCredits = true;
  // Places and fonts at the window's DPI.
  void Layout();

 private:
  HWND__* window_ = nullptr;
  void* fonts_[4] = {};  // name, version, notice, credits
};

class HelpWindow {
 public:
  explicit HelpWindow(HWND__* owner);
  ~HelpWindow();
  void ShowText(const std::string& title, const std::string& markdown);
  HWND__* Handle() const { return window_; }
  void Layout();

 private:
  HWND__* window_ = nullptr;
  void* font_ = nullptr;
};

// Shows a new parameter list window owned by `owner`; it destroys itself when closed.
HWND__* ShowParamList(HWND__* owner, const dParamList::ParamSet& params);

// Shows the question; `answered(yes)` runs once when it is answered (not when it is closed by
// DestroyWindow). The owner is disabled while it is open.
HWND__* AskQuestion(HWND__* owner, const std::string& title, const std::string& text,
                    std::function<void(bool yes)> answered);

void RegisterOtherClasses();

}  // namespace bm::win32
