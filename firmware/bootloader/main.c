/* Brindlemark's serial bootloader for ATmega328P and ATmega1284P.
 *
 * Runs from the boot section (BOOTRST fuse set) and serves the host until it
 * sends "X"; it never starts the application on its own, so a host that
 * searches the ports finds it listening. The command letters and replies are
 * in src/protocol/wire.h, shared with the host. Flash size in "I" is the
 * application section only: the host erases and writes below that and the
 * 16-bit word addresses stay valid on the 128 KiB part.
 */
#include <avr/eeprom.h>
#include <avr/io.h>
#include <stdbool.h>
#include <stdint.h>

#include "flash.h"
#include "link.h"
#include "protocol/wire.h"

/* Loader identification answered to "i". A project file names the first
 * one as BootLoaderID=$0101; the other three are reserved and stay 0. */
#define LOADER_ID_0 0x0101
#define LOADER_ID_1 0x0000
#define LOADER_ID_2 0x0000
#define LOADER_ID_3 0x0000

static uint8_t page[SPM_PAGESIZE];
static uint32_t address; /* byte address set by "A" */

static void put_id(uint16_t id) {
  link_put((uint8_t)(id >> 8));
  link_put((uint8_t)id);
}

static void identify(void) {
  link_put(WIRE_IDENTIFY);
  link_put(SIGNATURE_0);
  link_put(SIGNATURE_1);
  link_put(SIGNATURE_2);
  link_put(SPM_PAGESIZE / 2);
  link_put((uint8_t)APP_WORDS);
  link_put((uint8_t)(APP_WORDS >> 8));
}

/* Reads the two bytes of a 16-bit number, low byte first. */
static bool get_u16(uint16_t *value) {
  uint8_t lo, hi;
  if (!link_get_timed(&lo) || !link_get_timed(&hi)) return false;
  *value = lo | ((uint16_t)hi << 8);
  return true;
}

static void set_address(void) {
  uint16_t word;
  if (!get_u16(&word)) return;
  address = (uint32_t)word * 2;
  link_put(WIRE_ACK);
}

static void load_page(void) {
  uint8_t sum = 0;
  for (uint16_t i = 0; i < SPM_PAGESIZE; i++) {
    if (!link_get_timed(&page[i])) return; /* host gone mid-page: no reply, back to idle */
    sum += page[i];
  }
  link_put(sum);
}

static void write_eeprom(void) {
  uint16_t at;
  uint8_t value;
  if (!get_u16(&at) || !link_get_timed(&value)) return;
  if (at > E2END) {
    link_put(WIRE_REFUSED);
    return;
  }
  eeprom_update_byte((uint8_t *)at, value);
  /* Acknowledge a finished write, so "X" right after cannot cut it. */
  eeprom_busy_wait();
  link_put(WIRE_ACK);
}

static void start_application(void) __attribute__((noreturn));
static void start_application(void) {
  link_close();
  /* Hand over with the CPU as a reset leaves it, then jump to the
   * application's reset vector. */
  __asm__ __volatile__("jmp 0");
  for (;;) {
  }
}

int main(void) {
  link_open();
  for (;;) {
    switch (link_get()) {
      case WIRE_ALIVE:
        link_put(WIRE_ALIVE_REPLY_0);
        link_put(WIRE_ALIVE_REPLY_1);
        break;
      case WIRE_IDENTIFY:
        identify();
        break;
      case WIRE_LOADER_IDS:
        put_id(LOADER_ID_0);
        put_id(LOADER_ID_1);
        put_id(LOADER_ID_2);
        put_id(LOADER_ID_3);
        break;
      case WIRE_SET_ADDRESS:
        set_address();
        break;
      case WIRE_ERASE_PAGE:
        link_put(flash_erase_page(address) ? WIRE_ACK : WIRE_REFUSED);
        break;
      case WIRE_LOAD_PAGE:
        load_page();
        break;
      case WIRE_PROGRAM_PAGE:
        link_put(flash_write_page(address, page) ? WIRE_ACK : WIRE_REFUSED);
        break;
      case WIRE_WRITE_EEPROM:
        write_eeprom();
        break;
      case WIRE_LEAVE:
        start_application();
      default:
        break; /* unknown letters are ignored without a reply */
    }
  }
}
