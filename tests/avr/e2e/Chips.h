// What the tests know about the two emulated chips and their test programs.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "SerialClient.h"

namespace avrtest {

struct ChipCase {
  const char *mcu;
  Bytes identifyReply;  // reply to "I"
  uint32_t pageBytes;
  uint32_t appBytes;  // application section = where the boot section starts
  uint32_t eepromBytes;
  const char *project;   // test program in PROJECTS_DIR (.hex, .eep, .ppro)
  const char *greeting;  // the line it prints once started
};

inline const ChipCase kAtmega328p{"atmega328p",
                                  {'I', 0x1E, 0x95, 0x0F, 64, 0x00, 0x3E},
                                  128,
                                  0x7C00,
                                  1024,
                                  "hello328p",
                                  "hello atmega328p flash ok eeprom brindlemark eeprom\r\n"};
inline const ChipCase kAtmega1284p{
    "atmega1284p", {'I', 0x1E, 0x97, 0x05, 128, 0x00, 0xFE},        256, 0x1FC00, 4096,
    "far1284p",    "hello atmega1284p far ok eeprom far eeprom\r\n"};

inline std::string projectFile(const ChipCase &chip, const char *extension) {
  return std::string(PROJECTS_DIR) + "/" + chip.project + extension;
}

inline void PrintTo(const ChipCase &chip, std::ostream *os) { *os << chip.mcu; }

}  // namespace avrtest
