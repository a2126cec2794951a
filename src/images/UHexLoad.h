// The Intel HEX reader: one .hex or .eep file into the flash or the EEPROM image buffer.
//
// Records 00 (data), 01 (end of file), 02 (extended segment address), 03 (start segment
// address), 04 (extended linear address) and 05 (start linear address) are understood; every
// other type is a format error. Fields are read at a running position, so a line without ":"
// goes on where the previous line stopped (an empty line reads as a data record without bytes).
// Load addresses are offset + base, 0 to 0x3FFFF; the latest 02 or 04 record sets the base
// (16 x segment, or the upper 16 address bits) and replaces the other. Start records are read
// for their checksum and ignored.
//
// What callers may rely on:
//  - The result is the image end: one past the highest address a complete data record reached
//    (0 when nothing was loaded), partial when a format error stopped the reading. Format errors
//    are appended to `found` (kind error, code FormatError): the error, "\nat Line:" + the 1-based line
//    number and
//    "\n (file: " + the file's name + ")". The data stored before them stay in the buffer, but
//    the result says the file is damaged: the caller must not offer such an image for
//    programming.
//  - A file that cannot be found or opened gets the file-error report (origin "UHexLoad", code
//    OpenFailed) and
//    a result of 0 (`missing` tells whether it does not exist); a folder gives 0 silently.
//  - A file that ends without an end-of-file record is reported in the same form ("End of file
//    record missing!", a warning) and its result kept, not damaged: some tools leave the record out, but a
//    cut-off file must not pass as a whole image unnoticed.
//  - Nothing is ever written outside the buffer: an EEPROM byte above 0xFFFF raises RuntimeError.
//  - The result names the file read (the current file `f` is re-pointed to it); the line
//    buffer holds its lines. The image end is 0 and the line buffer empty when nothing was read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "base/Diagnostic.h"
#include "images/Images.h"
#include "platform/EventLoop.h"

namespace bm::UHexLoad {

inline constexpr int32_t kMaxAddress = 0x3FFFF;

struct HexRead {
  int32_t end = 0;                            // the image end (FBytesRead or EBytesRead)
  std::optional<std::filesystem::path> file;  // the file the path resolved to; none for ""
  bool damaged = false;                       // a format error stopped the reading
  bool missing = false;                       // the file does not exist
  std::optional<FileSeen> seen;               // the file's bytes as read; none when none were
};

// Reads the file at `path` into the flash buffer (toEEPROM false) or the EEPROM buffer; `st`
// receives its lines.
HexRead IntelHex(const std::string& path, bool toEEPROM, ImageBuffers& images, LineBuffer& st,
                 Diagnostics& found, EventLoop& loop);

// The record pass of IntelHex over the lines already in `st` (leading empty lines are dropped
// from it first); `file` names them in the messages. Exposed for the fuzz target.
HexRead ProcessLines(bool toEEPROM, ImageBuffers& images, LineBuffer& st, Diagnostics& found, EventLoop& loop,
                     const std::optional<std::filesystem::path>& file = std::nullopt);

// The file-error report of this reader (origin "UHexLoad").
void raiseExc(Diagnostics& found, DiagnosticCode code, const std::string& message,
              const std::optional<std::filesystem::path>& file);

}  // namespace bm::UHexLoad
