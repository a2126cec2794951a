#include "flash.h"

#include <avr/boot.h>
#include <avr/eeprom.h>
#include <util/crc16.h>

void flash_finish(void) { boot_spm_busy_wait(); }

void flash_ready(void) {
  boot_spm_busy_wait();
  boot_rww_enable();
}

/* Points RAMPZ:Z at the page holding word address `word` (RAMPZ only on the
 * 128 KiB parts) once the flash and the EEPROM are idle; false for a page of
 * the loader's own section. No 32-bit arithmetic: that would not fit. */
static bool app_page(uint16_t word, uint16_t *z) {
  if (word >= APP_WORDS) return false;
  flash_finish();
  eeprom_busy_wait(); /* SPM is ignored while an EEPROM write runs */
#ifdef RAMPZ
  RAMPZ = (uint8_t)(word >> 15);
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
  for (uint16_t i = 0; i < SPM_PAGESIZE; i += 2) __boot_page_fill_normal(i, *(const uint16_t *)(data + i));
  __boot_page_write_normal(z);
  return true;
}

uint16_t flash_crc(uint16_t start, uint16_t words) {
  flash_ready();
#ifdef RAMPZ
  RAMPZ = (uint8_t)(start >> 15);
#endif
  const uint8_t *z = (const uint8_t *)(uint16_t)(start << 1);
  uint16_t crc = 0xFFFF;
  do {
    for (uint8_t i = 0; i < 2; i++) {
      uint8_t byte;
      /* RAMPZ:Z counts on by itself, across 64 KiB too. */
#ifdef RAMPZ
      __asm__ __volatile__("elpm %0, Z+" : "=r"(byte), "+z"(z));
#else
      __asm__ __volatile__("lpm %0, Z+" : "=r"(byte), "+z"(z));
#endif
      crc = _crc_ccitt_update(crc, byte);
    }
  } while (--words);
  return crc;
}
