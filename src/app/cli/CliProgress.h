// The command-line tool's status display: a HeadlessDisplay that also tells the user, on one
// stream (stderr), what the window would show.
//
// Progress is a redrawn bar when the stream is a terminal, otherwise one line each time it
// crosses a further 10 %; it redraws only when the shown value changes. Status-line texts and
// message-box texts (taken from the captured dialog messages as they appear) are printed as
// lines, with CR, LF or CRLF inside shown as a newline. Note() prints any other line (the byte
// trace) without breaking a bar.
#pragma once

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/CliSession.h"
#include "shell/core/HeadlessDisplay.h"

namespace bm::cli {

class ProgressDisplay : public HeadlessDisplay {
 public:
  // `quiet`: errors only; no bar, no progress lines, no status lines (boxes still print).
  ProgressDisplay(std::ostream& out, bool terminal, const std::vector<std::string>& messages,
                  bool quiet = false)
      : out_(out), terminal_(terminal), quiet_(quiet), messages_(messages) {}

  void SetProgress(int value) override {
    HeadlessDisplay::SetProgress(value);
    ShowMessages();
    if (progressMaximum <= 0 || quiet_) return;  // the search: busy without a known end
    const int shown = std::clamp(value, 0, 100);
    if (value <= 0) {
      // A new phase or the end of a run (mode 2 empties the bar): the finished bar stays.
      EndBar();
      decade_ = 0;
      return;
    }
    if (terminal_) {
      if (shown == drawn_) return;
      drawn_ = shown;
      Draw();
    } else {
      const int decade = shown / 10;
      if (decade > decade_) {
        decade_ = decade;
        out_ << "progress " << shown << " %\n" << std::flush;
      }
    }
  }

  // The run's rate and time left, shown beside the bar on a terminal.
  void SetRate(double bytesPerSecond, double secondsLeft) {
    char text[64];
    std::snprintf(text, sizeof text, "  %.0f B/s  %.0f s left", bytesPerSecond, secondsLeft);
    if (rate_ == text) return;
    rate_ = text;
    if (terminal_ && barOpen_) Draw();
  }

  void SetCaption(Caption which, const std::string& text) override {
    const bool changed = Text(which) != text;
    HeadlessDisplay::SetCaption(which, text);
    ShowMessages();
    if (changed && !quiet_ && !text.empty() && (which == Caption::status0 || which == Caption::status1)) {
      Note(NormalizeLineBreaks(text));
      drawn_ = -1;
      decade_ = 0;
    }
  }

  void SetButtonEnabled(Button which, bool enabled) override {
    HeadlessDisplay::SetButtonEnabled(which, enabled);
    ShowMessages();
  }

  // Prints the message boxes shown since the last call.
  void ShowMessages() {
    while (shownMessages_ < messages_.size()) Note(NormalizeLineBreaks(messages_[shownMessages_++]));
  }

  void Note(const std::string& line) {
    EndBar();
    out_ << line << '\n' << std::flush;
  }

  void EndBar() {
    if (!barOpen_) return;
    out_ << '\n';
    barOpen_ = false;
    drawn_ = -1;
    rate_.clear();
  }

 private:
  void Draw() {
    const int filled = drawn_ * kBarWidth / 100;
    out_ << "\r[" << std::string(filled, '#') << std::string(kBarWidth - filled, ' ') << "] " << drawn_
         << " %" << rate_ << "\x1b[K" << std::flush;
    barOpen_ = true;
  }

  static constexpr int kBarWidth = 40;
  std::ostream& out_;
  bool terminal_;
  bool quiet_;
  const std::vector<std::string>& messages_;
  size_t shownMessages_ = 0;
  int drawn_ = -1;  // value the bar shows
  int decade_ = 0;  // last 10 % step printed
  bool barOpen_ = false;
  std::string rate_;
};

}  // namespace bm::cli
