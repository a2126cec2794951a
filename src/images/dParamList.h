// The pack file reader and the parameter set it fills.
//
// A pack file is one little-endian container: a 24-byte header that locates a parameter block,
// a flash image and an EEPROM image by absolute file offset, in any order. LoadPackFile reads the
// whole file into memory once and takes every field from that copy; every read is checked
// against the bytes actually read, so no input can make it read or write outside a buffer or
// allocate more than the file's own size.
//
// What callers may rely on:
//  - The parameter set keeps its values between loads: each pack parse overwrites the fields it
//    reaches, nothing ever resets them. Text fields hold the file's 8-bit characters taken as
//    Latin-1 and stored as UTF-8, so they can be shown as they are.
//  - FBytesRead / EBytesRead count only image bytes that were really copied: an image that is
//    skipped (no count, a negative parameter length) counts 0, so nothing shows as loaded that
//    was never read. After a failed read ("Read failed": the file shrank between its size and
//    its read) both count 0 even when images were copied: the pack is not usable.
//  - File problems (no file, cannot open, cannot read, a negative parameter length) are reported
//    through the file-error report with origin "dParamList"; a block, field or image outside the
//    file, or an image longer than its buffer, raises a RuntimeError whose trail gains
//    "dParamList.LoadPackFile". Values parsed and bytes copied before that stay.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "base/Diagnostic.h"
#include "images/Images.h"
#include "platform/EventLoop.h"

namespace bm::dParamList {

// One value per field of a pack file's parameter block, named and typed as in the block.
struct ParamSet {
  uint16_t eFileVersion = 0;  // never tested
  std::string eProjectName;   // trimmed
  int32_t eFileAge = 0;
  std::string eCPUname;  // trimmed
  uint8_t ePoll = 0;
  uint8_t eCPUtyp = 0;
  int32_t eClock = 0;  // Hz
  uint8_t ePageSize = 0;
  bool eProgName = false;
  bool eProgSerNum = false;
  bool eIgnoreID = false;
  bool eInvReset = false;
  bool ePushPullRes = false;
  uint16_t eResDelay = 0;
  uint8_t eProgWait = 0;
  uint8_t eSPIspeed = 0;
  uint8_t eLockBits0 = 0;
  uint8_t eFuseBits0 = 0;
  uint8_t eFuseBits1 = 0;
  bool eProgFuses = false;
  bool eProgFlash = false;
  bool eProgEEprom = false;
  bool eAT89Era = false;
  bool eAutoRelease = false;
  int32_t eDeviceID = 0;  // expected signature, becomes OrgID
  int32_t eEProgEnd = 0;
  int32_t eFProgEnd = 0;
  int32_t eFlashMax = 0;
  int32_t eEEpromMax = 0;  // becomes OrgEEpEnd

  // Eight command records of 9 bytes: command, address, byte slot, word slot, mask.
  int32_t eFuseWRcmd0 = 0;
  uint8_t eFuseWRadr0 = 0;
  bool eStayActive = false;
  uint16_t eISPserNum = 0;
  uint8_t eFuseWRMask0 = 0;

  int32_t eFuseWRcmd1 = 0;
  uint8_t eFuseWRadr1 = 0;
  uint8_t eByte1 = 0;
  std::string eSername1;  // one character
  std::string eSername2;  // one character
  uint8_t eFuseWRMask1 = 0;

  int32_t eFuseWRcmd2 = 0;
  uint8_t eFuseWRadr2 = 0;
  uint8_t eByte2 = 0;
  uint16_t eBoundary = 0;
  uint8_t eFuseWRMask2 = 0;

  int32_t eFuseRDcmd0 = 0;
  uint8_t eFuseRDadr0 = 0;
  uint8_t eCalByteNum = 0;
  uint16_t eCalByteAddr = 0;
  uint8_t eFuseRDMask0 = 0;

  int32_t eFuseRDcmd1 = 0;
  uint8_t eFuseRDadr1 = 0;
  uint8_t eByte4 = 0;
  uint16_t eBootID = 0;  // expected loader ID, becomes OrgBootID (zero-extended)
  uint8_t eFuseRDMask1 = 0;

  int32_t eFuseRDcmd2 = 0;
  uint8_t eFuseRDadr2 = 0;
  uint8_t eByte5 = 0;
  uint16_t eWord5 = 0;
  uint8_t eFuseRDMask2 = 0;

  int32_t eLockWRcmd0 = 0;
  uint8_t eLockWRadr0 = 0;
  bool eNoLockDev = false;  // "Lockbits to program" is its negation
  uint16_t eWord6 = 0;
  uint8_t eLockWRMask0 = 0;

  int32_t eLockRDcmd0 = 0;
  uint8_t eLockRDadr0 = 0;
  uint8_t eByte7 = 0;
  uint16_t eWord7 = 0;
  uint8_t eLockRDMask0 = 0;

  uint8_t eSpecialAdr0 = 0;
  uint8_t eSpecialMask = 0;
  int32_t eSpecialCmd0 = 0;
  int32_t ePWRdownWait = 0;
  int32_t eCreateDate = 0;  // shown divided by 100
  bool eWriteCalByte = false;
  bool eKillRC = false;
  bool eRestoreEEp = false;
  uint8_t eFuseBits2 = 0;
  bool eJtag = false;
  bool eJTAGmode = false;
  uint16_t eVoltage = 0;  // bits 0-9: volts x 100; bits 10-15: supply mode
  uint8_t eEEpage = 0;
  bool eProgChkSum = false;
  bool eJTAGN = false;
  uint8_t eReserved14 = 0;
};

struct PackRead {
  // True when the file was read to its end without a read error; false when the file is
  // unusable (after its report), including a negative parameter length, whose pack was not
  // read at all.
  bool ok = false;
  std::optional<std::filesystem::path> file;  // the file the path resolved to; none for ""
  std::optional<FileSeen> seen;               // the file's bytes as read; none when none were
};

// Reads up to `size` bytes of the open `file` into `into`, returning how many it read: the one
// read of a pack's content. Empty means std::fread; tests put a short read here.
using ReadBytes = std::function<size_t(std::FILE* file, uint8_t* into, size_t size)>;

// Reads the pack file at `path` into `params`, the image buffers and their counts.
PackRead LoadPackFile(const std::string& path, ImageBuffers& images, ParamSet& params, Diagnostics& found,
                      EventLoop& loop, const ReadBytes& readBytes = {});

// The entry for encrypted packs: they are never accepted. Reads nothing, changes nothing.
bool LoadEncFile(const std::string& path);

}  // namespace bm::dParamList
