// Identification of the connected loader ("I", "i") and its release ("X").
#include <array>
#include <cstdint>
#include <cstdio>

#include "shell/core/Main.h"
#include "target/Protocol.h"
#include "target/Sequence.h"

namespace bm {
namespace {

// Upper-case hex without leading zeros, as every message writes numbers.
std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
  return text;
}

uint8_t Byte(const std::string& bytes, size_t index) { return static_cast<uint8_t>(bytes[index]); }

}  // namespace

std::string Main::IntToHex(const std::string& reply, int position) {
  if (position < 1 || position > static_cast<int>(reply.size())) return "00";
  char text[3];
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(Byte(reply, position - 1)));
  return text;
}

bool Main::GetDevice() {
  // A message is shown only while the user is still there: after a quit the run just ends.
  auto fail = [this](const std::string& message) {
    if (!message.empty() && !QuitRequested()) dialogs.MessageBox(message);
    return false;
  };

  target::SendCommand(*this, protocol::kIdentify);
  COMwait(protocol::kIdentifyEchoBytes);
  const std::string echo = ComPort.Read(protocol::kIdentifyEchoBytes);
  if (echo.size() != 1 || echo[0] != protocol::kIdentify) return fail("Communication error");

  COMwait(protocol::kSignatureBytes);
  const std::string signature = ComPort.Read(protocol::kSignatureBytes);
  if (static_cast<int>(signature.size()) < protocol::kSignatureBytes) return fail("");
  const std::string signatureText = IntToHex(signature, 1) + IntToHex(signature, 2) + IntToHex(signature, 3);
  display.SetCaption(Caption::TargDevIDcapt, "Device ID : &&" + signatureText);
  g.TargID = static_cast<int32_t>(std::stoul(signatureText, nullptr, 16));

  // The page-size and flash-size bytes may come later than the signature on a slow line, so
  // they are awaited like any reply rather than read blind.
  COMwait(protocol::kPageSizeBytes);
  const std::string page = ComPort.Read(protocol::kPageSizeBytes);
  if (static_cast<int>(page.size()) < protocol::kPageSizeBytes) return fail("");
  g.BlockSize = Byte(page, 0);

  COMwait(protocol::kFlashSizeBytes);
  const std::string flash = ComPort.Read(protocol::kFlashSizeBytes);
  if (static_cast<int>(flash.size()) < protocol::kFlashSizeBytes) return fail("");
  g.FlashEnd = Byte(flash, 0) + 256 * Byte(flash, 1);

  if (g.OrgID > 0 && g.OrgID != g.TargID)
    return fail("Device ID :\r" + Hex(static_cast<uint32_t>(g.OrgID)) + "\rexpected!");

  // A page that does not fit the block buffer, or none at all, cannot be programmed: refused
  // here, before any run could overrun the buffer or loop without advancing.
  if (auto problem = target::PageGeometryProblem(g.BlockSize, g.FlashEnd)) return fail(*problem);

  if (g.OrgBootID < 0) return true;

  target::SendCommand(*this, protocol::kLoaderIds);
  COMwait(protocol::kLoaderIdsBytes);
  const std::string ids = ComPort.Read(protocol::kLoaderIdsBytes);
  if (static_cast<int>(ids.size()) < protocol::kLoaderIdsMinimumBytes) return fail("Communication error");

  std::array<uint8_t, protocol::kLoaderIdsBytes> buffer{};  // missing bytes read as 0
  for (size_t i = 0; i < ids.size() && i < buffer.size(); ++i) buffer[i] = Byte(ids, i);
  auto id = [&buffer](size_t offset) {
    return static_cast<uint32_t>(buffer[offset] * 256 + buffer[offset + 1]);
  };
  const uint32_t loaderId = id(0), loaderId1 = id(2), loaderId2 = id(4), loaderId3 = id(6);
  display.SetCaption(Caption::TargLoaderIDcapt, "Loader ID : &&" + Hex(loaderId));

  if (static_cast<int64_t>(loaderId) != g.OrgBootID) {
    std::string message = "Requested LoaderID is &h" + Hex(static_cast<uint32_t>(g.OrgBootID)) + "\r" +
                          "LoaderID in device is &h" + Hex(loaderId) + "\r";
    if (loaderId1 != 0 || loaderId2 != 0 || loaderId3 != 0)
      message += "LoaderID1 in device is &h" + Hex(loaderId1) + "\r" + "LoaderID2 in device is &h" +
                 Hex(loaderId2) + "\r" + "LoaderID3 in device is &h" + Hex(loaderId3);
    return fail(message);
  }

  ComPort.Flush();
  return true;
}

void Main::release() {
  if (g.COMok) target::LeaveLoader(*this);
  g.COMok = false;
}

}  // namespace bm
