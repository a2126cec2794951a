// Erase over the image's range ("A", "E" per page) and Stop ("X", close, mode 1).
#include "shell/core/Main.h"
#include "target/Protocol.h"
#include "target/Sequence.h"

namespace bm {
namespace {

using namespace target;

// The erase acknowledge may take longer than a COMwait, but not for ever: the wait ends when a
// byte arrives, when the port closes (Stop, quit, unplugged adapter) or after a few seconds.
bool EraseAcknowledged(Main& main) {
  for (int pass = 0; pass < protocol::kEraseWaitPasses; ++pass) {
    main.loop.processEvents(protocol::kPassMs);
    main.loop.yield();
    if (!main.ComPort.IsOpen() || main.ComPort.BytesAvailable() >= protocol::kAckBytes) break;
  }
  const std::string reply = main.ComPort.Read(protocol::kAckBytes);
  return reply.size() == 1 && static_cast<uint8_t>(reply[0]) == protocol::kAck;
}

}  // namespace

void Main::EraseBtn_Action() {
  if (Busy()) return;
  BusyScope busy(*this);
  if (!ReadyToRun(*this)) return;

  RunScope run(*this);
  g.Modus = 3;
  UpdateButtons();
  const int32_t end = FlashEndBytes(g);
  const int pageBytes = 2 * g.BlockSize;
  int32_t address = 0;
  do {
    SendCommand(*this, protocol::kSetAddress);
    SendWord(*this, static_cast<uint16_t>(address >> 1));
    if (!Acknowledged(*this)) {
      Fail(*this, 8, false);
      return;
    }
    SendCommand(*this, protocol::kErasePage);
    if (!EraseAcknowledged(*this) && !Fail(*this, 9, address == 0)) return;
    address += pageBytes;
    display.SetProgress(Percent(address, end));
    loop.yield();
  } while (address < end);
  g.Modus = 2;
  UpdateButtons();
}

void Main::StopBtn_Action() {
  display.SetProgress(0);
  if (g.COMok) LeaveLoader(*this);
  if (g.Modus > 0) g.Modus = 1;
  g.COMok = false;
  UpdateButtons();
}

}  // namespace bm
