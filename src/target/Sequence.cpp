#include "target/Sequence.h"

#include <cmath>
#include <exception>

#include "images/Util.h"
#include "target/Protocol.h"

namespace bm::target {

void SendCommand(Main& main, char letter) {
  main.ComPort.Flush();
  main.ComPort.Write(std::string(1, letter));
}

void SendWord(Main& main, uint16_t value) {
  SendByte(main, Util::lo(value));
  SendByte(main, Util::hi(value));
}

void SendByte(Main& main, uint8_t value) { main.ComPort.Write(std::string(1, static_cast<char>(value))); }

bool ReplyIs(Main& main, uint8_t expected) {
  main.COMwait(protocol::kAckBytes);
  const std::string reply = main.ComPort.Read(protocol::kAckBytes);
  return reply.size() == 1 && static_cast<uint8_t>(reply[0]) == expected;
}

bool Acknowledged(Main& main) { return ReplyIs(main, protocol::kAck); }

bool Fail(Main& main, int number, bool mayContinue) {
  main.g.Modus = 2;
  main.UpdateButtons();
  if (main.QuitRequested()) return false;
  main.dialogs.MessageBox(std::to_string(number) + " Communication error");
  return mayContinue && main.ComPort.IsOpen() && !main.QuitRequested();
}

int32_t FlashEndBytes(const Globals& g) {
  return g.FBytesRead / 2.0 < g.FlashEnd ? g.FBytesRead : 2 * g.FlashEnd;
}

int Percent(int64_t done, int64_t end) {
  if (end <= 0) return 100;
  return static_cast<int>(std::lround(100.0 * static_cast<double>(done) / static_cast<double>(end)));
}

std::optional<std::string> PageGeometryProblem(int32_t pageWords, int32_t flashWords) {
  if (pageWords <= 0 || pageWords > protocol::kMaxPageWords)
    return "The target reports a flash page of " + std::to_string(pageWords) + " words; only pages of 1 to " +
           std::to_string(protocol::kMaxPageWords) + " words can be programmed.";
  if (flashWords < pageWords)
    return "The target reports a flash size of " + std::to_string(flashWords) +
           " words, smaller than its page of " + std::to_string(pageWords) + " words.";
  return std::nullopt;
}

bool ReadyToRun(Main& main) {
  main.display.SetProgress(0);
  main.CheckComPort();
  if (!main.g.COMok) return false;
  if (auto problem = PageGeometryProblem(main.g.BlockSize, main.g.FlashEnd)) {
    main.dialogs.MessageBox(*problem);  // not identified (or refused): nothing to program with
    return false;
  }
  return true;
}

void LeaveLoader(Main& main) {
  main.ComPort.Flush();
  main.ComPort.Write(std::string(1, protocol::kLeave));
  // A close right after a write can drop the byte; the loader must get it.
  main.ComPort.XmitWait();
  main.ComPort.Close();
}

RunScope::RunScope(Main& main) : main_(main), uncaught_(std::uncaught_exceptions()) {}

RunScope::~RunScope() {
  if (std::uncaught_exceptions() > uncaught_) {
    main_.g.Modus = 2;
    main_.UpdateButtons();
  }
}

}  // namespace bm::target
