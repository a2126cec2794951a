// The pieces the download and erase sequences share: sending a command, the one-byte
// acknowledge check, the numbered failure, the flash end and the progress value.
//
// They work on Main's public state (g, ComPort, display, dialogs) and add no state of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "shell/core/Main.h"

namespace bm::target {

// Discards received bytes, then sends the command letter (a reply never mixes with older bytes).
void SendCommand(Main& main, char letter);
// A 16-bit number, low byte first.
void SendWord(Main& main, uint16_t value);
void SendByte(Main& main, uint8_t value);

// Waits for one reply byte and tells whether it is `expected` (the acknowledge by default).
bool ReplyIs(Main& main, uint8_t expected);
bool Acknowledged(Main& main);

// A numbered failure: mode 2, UpdateButtons, then "N Communication error" — unless the user
// quit meanwhile (no box then). Returns whether the run may go on: only where the sequence
// allows it (`mayContinue`), only while the port is still open, and never after a quit. A
// closed port (Stop, unplugged adapter) thus ends the run with this one message.
bool Fail(Main& main, int number, bool mayContinue);

// The image end in bytes, capped at the target's flash size.
int32_t FlashEndBytes(const Globals& g);

// 100 × done / end rounded to the nearest integer; an end of 0 counts as done (100).
int Percent(int64_t done, int64_t end);

// Why a reported page size and flash size (both in words) cannot be programmed, or nothing
// when they can: the page must fit the 256-byte block buffer and the flash must hold a page.
std::optional<std::string> PageGeometryProblem(int32_t pageWords, int32_t flashWords);

// The start of a download or erase: clears the progress and runs the check on the port. False
// when nothing may be sent: the target did not answer, or its page geometry (already refused at
// identification) cannot be programmed.
bool ReadyToRun(Main& main);

// Tells the loader to leave and closes the port; the "X" leaves before the close.
void LeaveLoader(Main& main);

// Held by a download or erase run: if the run is unwound by an error, the window goes back to
// mode 2 so it is not left showing "programming".
class RunScope {
 public:
  explicit RunScope(Main& main);
  ~RunScope();
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

 private:
  Main& main_;
  int uncaught_;
};

}  // namespace bm::target
