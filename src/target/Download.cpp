// The download run: the flash page by page ("A", "E", "D", "P"), then the EEPROM byte by byte
// ("B"), with progress and the numbered failures.
#include <algorithm>
#include <array>
#include <cstdint>

#include "shell/core/Main.h"
#include "target/Protocol.h"
#include "target/Sequence.h"

namespace bm {
namespace {

using namespace target;

// Returns false when the phase ended with a failure.
bool FlashPhase(Main& main, std::array<uint8_t, protocol::kBlockBufferBytes>& block) {
  Globals& g = main.g;
  main.display.SetCaption(Caption::status0, "programming Flash");

  // The last page first: FlashEnd − BlockSize is already a word address.
  SendCommand(main, protocol::kSetAddress);
  SendWord(main, static_cast<uint16_t>(g.FlashEnd - g.BlockSize));
  if (!Acknowledged(main)) return Fail(main, 1, false);
  SendCommand(main, protocol::kErasePage);
  if (!Acknowledged(main)) return Fail(main, 2, false);

  const int32_t end = FlashEndBytes(g);
  const int blockBytes = 2 * g.BlockSize;
  int32_t address = 0;
  do {
    std::copy_n(g.FlashArr.begin() + address, blockBytes, block.begin());
    const bool hasData =
        std::any_of(block.begin(), block.begin() + blockBytes, [](uint8_t b) { return b != 0xFF; });
    const bool first = address == 0;

    SendCommand(main, protocol::kSetAddress);
    SendWord(main, static_cast<uint16_t>(address >> 1));
    if (!Acknowledged(main)) return Fail(main, 3, false);
    SendCommand(main, protocol::kErasePage);
    if (!Acknowledged(main) && !Fail(main, 4, first)) return false;

    if (hasData) {
      SendCommand(main, protocol::kLoadPage);
      main.ComPort.Flush();
      uint8_t checksum = 0;
      for (int i = 0; i < blockBytes; ++i) {
        // One byte at a time at the pace of the line: the loader has no receive buffer to spare.
        SendByte(main, block[i]);
        main.ComPort.XmitWait();
        main.loop.yield();
        checksum = static_cast<uint8_t>(checksum + block[i]);
      }
      if (!ReplyIs(main, checksum)) return Fail(main, 5, false);
      SendCommand(main, protocol::kProgramPage);
      if (!Acknowledged(main) && !Fail(main, 6, first)) return false;
    }

    address += blockBytes;
    main.display.SetProgress(Percent(address, end));
    main.loop.yield();
  } while (address < end);
  return true;
}

bool EepromPhase(Main& main) {
  Globals& g = main.g;
  main.display.SetCaption(Caption::status0, "programming EEprom");
  const int32_t end = g.OrgEEpEnd <= 0 ? g.EBytesRead : std::min(g.EBytesRead, g.OrgEEpEnd);
  int32_t address = 0;
  do {
    SendCommand(main, protocol::kWriteEeprom);
    SendWord(main, static_cast<uint16_t>(address));
    main.ComPort.Flush();
    SendByte(main, g.EEpromArr.at(static_cast<size_t>(address)));
    if (!Acknowledged(main)) return Fail(main, 7, false);
    ++address;
    main.display.SetProgress(Percent(address, end));
    main.loop.yield();
  } while (address < end);
  return true;
}

}  // namespace

void Main::DownLdBtn_Action() {
  if (Busy()) return;
  BusyScope busy(*this);
  if (!ReadyToRun(*this)) return;

  RunScope run(*this);
  g.Modus = 3;
  UpdateButtons();
  std::array<uint8_t, protocol::kBlockBufferBytes> block{};
  if (display.CheckValue(Check::ProgFlashChk) && !FlashPhase(*this, block)) return;
  if (display.CheckValue(Check::ProgEEpChk) && !EepromPhase(*this)) return;
  g.Modus = 2;
  UpdateButtons();
}

}  // namespace bm
