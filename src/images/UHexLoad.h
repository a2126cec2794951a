// The Intel HEX reader: one .hex or .eep file into the flash or the EEPROM image buffer.
//
// Records 00 (data), 01 (end of file), 02 (extended segment address) and 03 (start segment
// address) are understood; every other type is a format error. Fields are read at a running
// position, so a line without ":" goes on where the previous line stopped (an empty line reads
// as a data record without bytes). Load addresses are offset + 16 x segment, 0 to 0x3FFFF.
//
// What callers may rely on:
//  - The result is the image end: one past the highest address a complete data record reached
//    (0 when nothing was loaded), partial when a format error stopped the reading. Format errors
//    are shown at once in a message box ending in "\nat Line:" + the 1-based line number; the
//    data stored before them stay in the buffer.
//  - A file that cannot be found or opened gets the file-error report (origin "UHexLoad") and
//    a result of 0; a folder gives 0 silently.
//  - A file that ends without an end-of-file record is reported ("End of file record missing!")
//    and its result kept: a cut-off file must not pass as a whole image unnoticed.
//  - Nothing is ever written outside the buffer: an EEPROM byte above 0xFFFF raises RuntimeError.
//  - g.f points at the file read, g.st holds its lines.
#pragma once

#include <cstdint>
#include <string>

#include "images/Globals.h"
#include "platform/Dialogs.h"
#include "platform/EventLoop.h"

namespace bm::UHexLoad {

inline constexpr int32_t kMaxAddress = 0x3FFFF;

// Reads the file at `path` into the flash buffer (toEEPROM false) or the EEPROM buffer.
int32_t IntelHex(const std::string& path, bool toEEPROM, Globals& g, Dialogs& dialogs, EventLoop& loop);

// The record pass of IntelHex over the lines already in g.st (leading empty lines are dropped
// from g.st first). Exposed for the fuzz target.
int32_t ProcessLines(bool toEEPROM, Globals& g, Dialogs& dialogs, EventLoop& loop);

// The file-error report of this reader.
void raiseExc(Dialogs& dialogs, const std::string& message, const Globals& g, bool withFile);

}  // namespace bm::UHexLoad
