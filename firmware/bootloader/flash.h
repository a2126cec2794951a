/* Self-programming of the application section.
 *
 * Addresses are byte addresses (32-bit: the ATmega1284P has 128 KiB, which
 * needs RAMPZ). An address is taken to its page start, as the SPM hardware
 * does. Pages at or above BOOT_START belong to the loader itself and are
 * never erased or written: the calls return false and leave flash alone.
 * Each call returns only when the operation has finished and the
 * application section is readable again (RWW re-enabled), so the
 * application can be started at any time afterwards.
 */
#ifndef BRINDLEMARK_BOOT_FLASH_H
#define BRINDLEMARK_BOOT_FLASH_H

#include <stdbool.h>
#include <stdint.h>

#ifndef BOOT_START
#error "BOOT_START (byte address of the boot section) must be given by the build"
#endif

#define APP_WORDS ((uint16_t)((BOOT_START) / 2UL))

bool flash_erase_page(uint32_t address);
/* Writes SPM_PAGESIZE bytes from page into the (erased) page at address. */
bool flash_write_page(uint32_t address, const uint8_t *page);

#endif
