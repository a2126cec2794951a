/* The CRCs of the flash and EEPROM checks (wire.h), for the host and the simulated target. Plain
 * C, as wire.h.
 *
 * wire_crc: the first version's "C", the same as avr-libc's _crc_ccitt_update, which that loader
 * used (CRC-16/MCRF4XX: the CCITT polynomial 0x1021 reflected, initial value 0xFFFF, no final
 * XOR).
 * wire_crc32: the second version's "V" and "v", CRC-32 as zlib and IEEE 802.3 have it (0xEDB88320
 * reflected, initial value and final XOR 0xFFFFFFFF): a bit at a time, as the loader computes it;
 * fast enough for the host's few hundred KiB. */
#ifndef BRINDLEMARK_PROTOCOL_CRC_H
#define BRINDLEMARK_PROTOCOL_CRC_H

#include <stddef.h>
#include <stdint.h>

#define WIRE_CRC_INITIAL 0xFFFF

static inline uint16_t wire_crc_update(uint16_t crc, uint8_t byte) {
  byte ^= (uint8_t)crc;
  byte ^= (uint8_t)(byte << 4);
  return (uint16_t)((((uint16_t)byte << 8) | (uint8_t)(crc >> 8)) ^ (uint8_t)(byte >> 4) ^
                    ((uint16_t)byte << 3));
}

static inline uint16_t wire_crc(const uint8_t *bytes, size_t count) {
  uint16_t crc = WIRE_CRC_INITIAL;
  for (size_t i = 0; i < count; i++) crc = wire_crc_update(crc, bytes[i]);
  return crc;
}

static inline uint32_t wire_crc32(const uint8_t *bytes, size_t count) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < count; i++) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; bit++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

#endif
