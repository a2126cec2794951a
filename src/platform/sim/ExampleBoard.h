// The board the simulated target is when nothing else is asked for: an ATmega328P with our
// bootloader's identity (loader ID 0x0101, with its flash check) and a 1024-word boot section. The desktop
// program's and the command-line tool's port "sim", and brindlemark-target-sim, start from it.
#pragma once

#include "platform/sim/SimTarget.h"
#include "protocol/wire.h"

namespace bm::sim {

inline SimTargetConfig ExampleBoardConfig() {
  SimTargetConfig config;
  config.signature = 0x1E950F;
  config.pageWords = 64;
  config.flashWords = 0x3800;
  config.bootWords = 0x0800;
  // Our loader family's marker, version 2.0 and its block checks ("V", "v"), as wire.h describes them.
  config.loaderIds = {0x0101, WIRE_FAMILY_ID, 0x0200, WIRE_CAPABILITY_CRC32};
  config.eepromBytes = 1024;
  return config;
}

}  // namespace bm::sim
