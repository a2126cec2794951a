// The command-line tool's progress on one stream (stderr): a redrawn bar when the stream is a
// terminal, otherwise one line each time a phase crosses a further 10 %; it redraws only when
// the shown value changes. Note() prints any other line (a message, the byte trace) without
// breaking a bar.
#pragma once

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>

namespace bm::cli {

class ProgressBar {
 public:
  // `quiet`: errors only; no bar and no progress lines (notes still print).
  ProgressBar(std::ostream& out, bool terminal, bool quiet = false)
      : out_(out), terminal_(terminal), quiet_(quiet) {}

  // A phase begins: the finished bar of the one before stays.
  void NewPhase() {
    EndBar();
    decade_ = 0;
  }

  void SetProgress(int value) {
    if (quiet_ || value <= 0) return;
    const int shown = std::clamp(value, 0, 100);
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
  int drawn_ = -1;  // value the bar shows
  int decade_ = 0;  // last 10 % step printed
  bool barOpen_ = false;
  std::string rate_;
};

}  // namespace bm::cli
