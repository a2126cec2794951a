#include "flash.h"

#include <avr/boot.h>
#include <avr/eeprom.h>

void flash_finish(void) { boot_spm_busy_wait(); }

void flash_ready(void) {
  boot_spm_busy_wait();
  boot_rww_enable();
}

/* Points RAMPZ:Z at the page holding word address `word` (RAMPZ only on the
 * 128 KiB parts) once the flash and the EEPROM are idle; false for a page of
 * the loader's own section. No 32-bit arithmetic: that would not fit. */
static inline __attribute__((always_inline)) bool app_page(uint16_t word, uint16_t *z) {
  if (word >= APP_WORDS) return false;
  flash_finish();
  eeprom_busy_wait(); /* SPM is ignored while an EEPROM write runs */
#ifdef RAMPZ
  RAMPZ = (word & 0x8000) ? 1 : 0;
#endif
  *z = (uint16_t)(word << 1) & (uint16_t) ~(SPM_PAGESIZE - 1);
  return true;
}

bool flash_erase_page(uint16_t word) {
  uint16_t z;
  if (!app_page(word, &z)) return false;
  __boot_page_erase_normal(z);
  return true;
}

bool flash_write_page(uint16_t word, const uint8_t *data) {
  uint16_t z;
  if (!app_page(word, &z)) return false;
  /* A fill takes only the in-page bits of Z. */
  const uint16_t *from = (const uint16_t *)data;
  uint8_t words = SPM_PAGESIZE / 2;
  uint16_t at = 0;
  do {
    __boot_page_fill_normal(at, *from++);
    at += 2;
  } while (--words);
  __boot_page_write_normal(z);
  return true;
}

/* One byte into a CRC-32 (reflected, 0xEDB88320), a bit at a time: no table, which would not
 * fit, and in assembly, about 85 cycles a byte where the same loop in C takes about 230. */
static inline uint32_t crc32_update(uint32_t crc, uint8_t byte) __attribute__((always_inline));
static inline uint32_t crc32_update(uint32_t crc, uint8_t byte) {
  uint8_t bits;
  __asm__ __volatile__(
      "eor %A[crc], %[byte]\n\t"
      "ldi %[bits], 8\n"
      "1:\n\t"
      "lsr %D[crc]\n\t"
      "ror %C[crc]\n\t"
      "ror %B[crc]\n\t"
      "ror %A[crc]\n\t"
      "brcc 2f\n\t"
      "eor %A[crc], %A[poly]\n\t"
      "eor %B[crc], %B[poly]\n\t"
      "eor %C[crc], %C[poly]\n\t"
      "eor %D[crc], %D[poly]\n"
      "2:\n\t"
      "dec %[bits]\n\t"
      "brne 1b"
      : [crc] "+r"(crc), [bits] "=&d"(bits)
      : [byte] "r"(byte), [poly] "r"(0xEDB88320UL));
  return crc;
}

uint32_t memory_crc32(bool eeprom, uint16_t start, uint16_t count) {
#ifdef RAMPZ
  RAMPZ = (start & 0x8000) ? 1 : 0;
#endif
  const uint8_t *z = (const uint8_t *)(uint16_t)(start << 1);
  uint32_t crc = 0xFFFFFFFFUL;
  do {
    uint8_t byte;
    if (eeprom) {
      EEAR = start++;
      EECR = _BV(EERE);
      byte = EEDR;
    } else {
      /* RAMPZ:Z counts on by itself, across 64 KiB too. */
#ifdef RAMPZ
      __asm__ __volatile__("elpm %0, Z+" : "=r"(byte), "+z"(z));
#else
      __asm__ __volatile__("lpm %0, Z+" : "=r"(byte), "+z"(z));
#endif
    }
    crc = crc32_update(crc, byte);
  } while (--count);
  return ~crc;
}
