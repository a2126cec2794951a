/* The CRC of the flash check ("C", see wire.h), for the host and the simulated target: the same
 * as avr-libc's _crc_ccitt_update, which the loader uses (CRC-16/MCRF4XX: the CCITT polynomial
 * 0x1021 reflected, initial value 0xFFFF, no final XOR). Plain C, as wire.h. */
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

#endif
