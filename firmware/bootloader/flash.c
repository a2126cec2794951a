#include "flash.h"

#include <avr/boot.h>
#include <avr/eeprom.h>
#include <avr/io.h>

static uint32_t page_start(uint32_t address) { return address & ~(uint32_t)(SPM_PAGESIZE - 1); }

static void finish(void) {
  boot_spm_busy_wait();
  boot_rww_enable();
}

bool flash_erase_page(uint32_t address) {
  uint32_t page = page_start(address);
  if (page >= BOOT_START) return false;
  /* SPM is ignored while an EEPROM write is still running. */
  eeprom_busy_wait();
  boot_page_erase(page);
  finish();
  return true;
}

bool flash_write_page(uint32_t address, const uint8_t *data) {
  uint32_t page = page_start(address);
  if (page >= BOOT_START) return false;
  eeprom_busy_wait();
  for (uint16_t i = 0; i < SPM_PAGESIZE; i += 2) {
    uint16_t word = data[i] | ((uint16_t)data[i + 1] << 8);
    boot_page_fill(page + i, word);
  }
  boot_page_write(page);
  finish();
  return true;
}
