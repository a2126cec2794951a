// Identification of the connected loader ("I", "i").
#include <array>
#include <cstdint>

#include "base/HexText.h"
#include "link/Bootloader.h"
#include "protocol/wire.h"

namespace bm {
namespace {

uint8_t Byte(const std::string& bytes, size_t index) { return static_cast<uint8_t>(bytes[index]); }

}  // namespace

std::string IntToHex(const std::string& reply, int position) {
  if (position < 1 || position > static_cast<int>(reply.size())) return "00";
  return HexByte(Byte(reply, static_cast<size_t>(position - 1)));
}

std::optional<std::string> PageGeometryProblem(int32_t pageWords, int32_t flashWords) {
  if (pageWords <= 0 || pageWords > WIRE_MAX_PAGE_WORDS)
    return "The target reports a flash page of " + std::to_string(pageWords) + " words; only pages of 1 to " +
           std::to_string(WIRE_MAX_PAGE_WORDS) + " words can be programmed.";
  if (flashWords < pageWords)
    return "The target reports a flash size of " + std::to_string(flashWords) +
           " words, smaller than its page of " + std::to_string(pageWords) + " words.";
  return std::nullopt;
}

Identification Bootloader::Identify(const ExpectedIds& expected, TargetInfo& target, bool askLoaderIds) {
  Identification found;
  target.LoaderIds.reset();
  found.outcome = ReadIdentity(target, found);
  if (found.outcome != Identification::Outcome::Identified) return found;
  if (expected.OrgID > 0 && expected.OrgID != target.TargID)
    return Ended(found, Identification::Outcome::Refused,
                 "Device ID :\r" + HexNumber(static_cast<uint32_t>(expected.OrgID)) + "\rexpected!");
  // A page that does not fit the block buffer, or none at all, cannot be programmed: refused
  // here, before any run could overrun the buffer or loop without advancing.
  if (auto problem = PageGeometryProblem(target.BlockSize, target.FlashEnd))
    return Ended(found, Identification::Outcome::Refused, *problem);
  if (expected.OrgBootID < 0 && !askLoaderIds) return found;
  found.outcome = CheckLoaderIds(expected, target, found);
  if (found.outcome == Identification::Outcome::Identified) port_.Flush();
  return found;
}

Identification Bootloader::Ended(Identification& found, Identification::Outcome outcome,
                                 std::string message) {
  found.outcome = outcome;
  found.message = std::move(message);
  return found;
}

Identification::Outcome Bootloader::ReadIdentity(TargetInfo& target, Identification& found) {
  using Outcome = Identification::Outcome;
  SendCommand(WIRE_IDENTIFY);
  COMwait(WIRE_IDENTIFY_ECHO_BYTES);
  const std::string echo = port_.Read(WIRE_IDENTIFY_ECHO_BYTES);
  if (echo.size() != 1 || echo[0] != WIRE_IDENTIFY) {
    found.message = "Communication error";
    return Outcome::Failed;
  }

  COMwait(WIRE_SIGNATURE_BYTES);
  const std::string signature = port_.Read(WIRE_SIGNATURE_BYTES);
  if (static_cast<int>(signature.size()) < WIRE_SIGNATURE_BYTES) return Outcome::Incomplete;
  found.signatureText = IntToHex(signature, 1) + IntToHex(signature, 2) + IntToHex(signature, 3);
  target.TargID = static_cast<int32_t>(std::stoul(*found.signatureText, nullptr, 16));

  // The page-size and flash-size bytes may come later than the signature on a slow line, so
  // they are awaited like any reply rather than read blind.
  COMwait(WIRE_PAGE_SIZE_BYTES);
  const std::string page = port_.Read(WIRE_PAGE_SIZE_BYTES);
  if (static_cast<int>(page.size()) < WIRE_PAGE_SIZE_BYTES) return Outcome::Incomplete;
  target.BlockSize = Byte(page, 0);

  COMwait(WIRE_FLASH_SIZE_BYTES);
  const std::string flash = port_.Read(WIRE_FLASH_SIZE_BYTES);
  if (static_cast<int>(flash.size()) < WIRE_FLASH_SIZE_BYTES) return Outcome::Incomplete;
  target.FlashEnd = Byte(flash, 0) + 256 * Byte(flash, 1);
  return Outcome::Identified;
}

Identification::Outcome Bootloader::CheckLoaderIds(const ExpectedIds& expected, TargetInfo& target,
                                                   Identification& found) {
  SendCommand(WIRE_LOADER_IDS);
  COMwait(WIRE_LOADER_IDS_BYTES);
  const std::string ids = port_.Read(WIRE_LOADER_IDS_BYTES);
  if (static_cast<int>(ids.size()) < WIRE_LOADER_IDS_MIN_BYTES) {
    found.message = "Communication error";
    return Identification::Outcome::Failed;
  }

  std::array<uint8_t, WIRE_LOADER_IDS_BYTES> buffer{};  // missing bytes read as 0
  for (size_t i = 0; i < ids.size() && i < buffer.size(); ++i) buffer[i] = Byte(ids, i);
  auto id = [&buffer](size_t offset) {
    return static_cast<uint32_t>(buffer[offset] * 256 + buffer[offset + 1]);
  };
  const uint32_t loaderId = id(0), loaderId1 = id(2), loaderId2 = id(4), loaderId3 = id(6);
  found.loaderIdText = HexNumber(loaderId);
  target.LoaderIds = std::array<uint32_t, 4>{loaderId, loaderId1, loaderId2, loaderId3};
  if (expected.OrgBootID < 0 || static_cast<int64_t>(loaderId) == expected.OrgBootID)
    return Identification::Outcome::Identified;

  found.message = "Requested LoaderID is &h" + HexNumber(static_cast<uint32_t>(expected.OrgBootID)) + "\r" +
                  "LoaderID in device is &h" + HexNumber(loaderId) + "\r";
  if (loaderId1 != 0 || loaderId2 != 0 || loaderId3 != 0)
    found.message += "LoaderID1 in device is &h" + HexNumber(loaderId1) + "\r" + "LoaderID2 in device is &h" +
                     HexNumber(loaderId2) + "\r" + "LoaderID3 in device is &h" + HexNumber(loaderId3);
  return Identification::Outcome::Refused;
}

}  // namespace bm
