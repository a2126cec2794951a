// Comparing an emulated chip's memory with the image files it was given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/IntelHex.h"

namespace avrtest {

// Empty when memory[from, to) holds exactly what image holds there and 0xFF
// wherever the image has nothing; else a description of the first
// differences.
std::string compareWithImage(const std::vector<uint8_t> &memory, const HexImage &image, uint32_t from,
                             uint32_t to);

HexImage loadImage(const std::string &path);  // fails the test when unreadable

// A plain HEX file of `bytes` bytes of `value` (below 64 KiB), 16 to a record; empty when written,
// else why not.
std::string writeHexFile(const std::string &path, uint32_t bytes, uint8_t value);

}  // namespace avrtest
