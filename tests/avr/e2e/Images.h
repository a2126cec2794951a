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

}  // namespace avrtest
