/* Self-programming of the application section, overlapped with the line.
 *
 * Addresses are word addresses, as the protocol has them (RAMPZ takes the
 * top bit on the 128 KiB parts). An address is taken to its page start, as
 * the SPM hardware does. Pages at or above BOOT_START belong to the loader
 * itself and are never erased or written: the calls return false and leave
 * flash alone.
 *
 * The loader runs from the boot section, which the CPU reads while the
 * application section is erased or written (read-while-write). So an erase
 * or a write is started and left running: the loader answers at once and
 * takes the next bytes from the line meanwhile. Safe because every flash
 * operation first waits for the one before it to finish, the page buffer is
 * filled only then (the page's data waits in RAM), an EEPROM write waits for
 * it too, and the application section is read (CRC) or started only after
 * the last operation finished and the section was made readable again
 * (flash_ready).
 */
#ifndef BRINDLEMARK_BOOT_FLASH_H
#define BRINDLEMARK_BOOT_FLASH_H

#include <avr/io.h>
#include <stdbool.h>
#include <stdint.h>

#ifndef BOOT_START
#error "BOOT_START (byte address of the boot section) must be given by the build"
#endif

#define APP_WORDS ((uint16_t)((BOOT_START) / 2UL))

/* Starts erasing the page holding word address `word`. */
bool flash_erase_page(uint16_t word);
/* Starts writing SPM_PAGESIZE bytes from page into the (erased) page. */
bool flash_write_page(uint16_t word, const uint8_t *page);
/* Waits for a running erase or write. */
void flash_finish(void);
/* Waits for it and makes the application section readable again. */
void flash_ready(void);
/* The CRC-32 (protocol/wire.h) of `count` bytes (0: 65536) of the flash from word address `start`,
 * or of the EEPROM from byte address `start`. The caller has made both idle (flash_ready,
 * eeprom_busy_wait). */
uint32_t memory_crc32(bool eeprom, uint16_t start, uint16_t count);

#endif
