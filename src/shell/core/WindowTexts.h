// The words of the desktop windows that are no state of the presenter: the help and release
// notes, the About window's texts, each control's tooltip and the question a close during a run
// asks. Written once, without a toolkit, for every window that shows them (the Qt window, the
// Win32 window).
#pragma once

#include <string>
#include <string_view>

#include "shell/core/Outcomes.h"

namespace bm {

std::string HelpContentsText();  // Markdown: how to use the program
std::string ReleaseNotesText();  // Markdown: what this version brings
inline constexpr const char* kHelpTitle = "Brindlemark Help";
inline constexpr const char* kReleaseNotesTitle = "Brindlemark Release Notes";
std::string NoUpdateCheckText();

// The About window: name, version, credits (in the credits mark-up: b, i, font size), notice.
inline constexpr const char* kAboutName = "Quorvex Tarnwick";
std::string AboutVersionText();
std::string CreditsText();
std::string AboutNoticeText();

// "A download is running. Stop it and quit?"
std::string QuitQuestionText(RunKind running);

// What a control of the main window does, by its control name ("LedRed", "FOpenBtn", ...);
// empty for a control without one. The progress bar's is its resting tip: a run shows its
// percent and time left there and puts this back at its end.
std::string ControlTip(std::string_view control);
// A status line's resting tooltip (line 0 or 1); while it shows a text, the tip is that text.
std::string StatusLineTip(int line);

}  // namespace bm
