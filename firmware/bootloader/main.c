/* Brindlemark's serial bootloader for the ATmega328P, 168PA, 644PA, 1284P,
 * 32A and 128A.
 *
 * Runs from a boot section of 512 words (BOOTRST programmed). After a reset
 * it stays in the loader when there is no application (the first flash word
 * is erased), when the application asked for it (a watchdog reset with
 * WIRE_STAY_MARKER in the last two bytes of SRAM) or when the boot pin is
 * held low; otherwise it listens for BOOT_WINDOW_MS and starts the
 * application unless a "?" came. Once it has answered "?" it serves the host
 * until "X". The command letters and replies are in src/protocol/wire.h,
 * shared with the host. Flash size in "I" is the application section only:
 * the host erases and writes below that, and the 16-bit word addresses stay
 * valid on the 128 KiB parts.
 *
 * It is built without the C start-up code (no vector table, nothing copied
 * or zeroed), which keeps every build within 1024 bytes: boot() below is the
 * first instruction of the section. It starts the application with a
 * watchdog reset (and START_MARKER), so the application finds every
 * peripheral as a reset leaves it; the watchdog's 15 ms also let the last
 * reply byte leave the line.
 */
#include <avr/eeprom.h>
#include <avr/io.h>
#include <avr/pgmspace.h>
#include <avr/wdt.h>
#include <stdbool.h>
#include <stdint.h>

#include "chip.h"
#include "flash.h"
#include "link.h"
#include "protocol/wire.h"

#ifndef BOOT_WINDOW_MS
#define BOOT_WINDOW_MS 1000
#endif
#if BOOT_WINDOW_MS < 100 || BOOT_WINDOW_MS > 4000
#error "BOOT_WINDOW_MS must be 100 to 4000: a loader must stay reachable after a power-up"
#endif

/* Loader identification answered to "i". A project file names the first
 * one as BootLoaderID=$0101. */
#define LOADER_ID_0 0x0101
#define LOADER_VERSION 0x0100 /* 1.0 */

/* The last word of SRAM survives a watchdog reset: the application leaves
 * WIRE_STAY_MARKER there to ask for the loader, the loader START_MARKER to
 * start the application. */
#define START_MARKER 0x57A7
#define MARKER (*(volatile uint16_t *)(RAMEND - 1))

/* Nothing is zeroed at start: each is set before it is read. */
static uint8_t page[SPM_PAGESIZE] __attribute__((section(".noinit")));
static uint16_t address __attribute__((section(".noinit"))); /* word address set by "A" */
static uint16_t marker __attribute__((section(".noinit")));  /* as the reset left it */
/* A command's bytes; its numbers come low byte first, as the AVR keeps them. */
static union {
  uint8_t bytes[4];
  uint16_t words[2];
} args __attribute__((section(".noinit")));

static const uint8_t identity[] PROGMEM = {WIRE_IDENTIFY,
                                           SIGNATURE_0,
                                           SIGNATURE_1,
                                           SIGNATURE_2,
                                           SPM_PAGESIZE / 2,
                                           (uint8_t)APP_WORDS,
                                           (uint8_t)(APP_WORDS >> 8)};
static const uint8_t loader_ids[] PROGMEM = {LOADER_ID_0 >> 8,
                                             (uint8_t)LOADER_ID_0,
                                             WIRE_FAMILY_ID >> 8,
                                             (uint8_t)WIRE_FAMILY_ID,
                                             LOADER_VERSION >> 8,
                                             (uint8_t)LOADER_VERSION,
                                             WIRE_CAPABILITY_FLASH_CRC >> 8,
                                             (uint8_t)WIRE_CAPABILITY_FLASH_CRC};
static const uint8_t alive_reply[] PROGMEM = {WIRE_ALIVE_REPLY_0, WIRE_ALIVE_REPLY_1};

static void serve(void) __attribute__((noinline, noreturn));

/* In .vectors, the first input section of .text: the tables in flash would
 * come before .init0. */
void boot(void) __attribute__((naked, used, noreturn, section(".vectors")));
void boot(void) {
  __asm__ __volatile__("clr __zero_reg__"); /* SREG is 0 after any reset */
  /* Read before anything is pushed: the stack starts there. */
  marker = MARKER;
  SP = RAMEND;
  serve();
}

/* The sum of the bytes get_bytes read last (a page's checksum). */
static uint8_t sum __attribute__((section(".noinit")));

/* Reads `count` bytes of a command (1 to 65536), each within the in-command
 * timeout; false when the host went quiet (no reply then). */
static bool get_bytes(uint8_t *into, uint16_t count) {
  sum = 0;
  do {
    if (!link_get_byte(into)) return false;
    sum += *into++;
  } while (--count);
  return true;
}

static void load_page(void) {
  if (get_bytes(page, SPM_PAGESIZE)) link_put(sum); /* a host gone mid-page gets no reply */
}

static void write_eeprom(void) {
  if (!get_bytes(args.bytes, 3)) return;
  if (args.words[0] > E2END) {
    link_put(WIRE_REFUSED);
    return;
  }
  flash_finish(); /* no EEPROM write while the flash is busy */
  eeprom_write_byte((uint8_t *)args.words[0], args.bytes[2]);
  /* Acknowledge a finished write, so "X" right after cannot cut it. */
  eeprom_busy_wait();
  link_put(WIRE_ACK);
}

static void send_crc(void) {
  if (!get_bytes(args.bytes, 4)) return;
  uint16_t crc = flash_crc(args.words[0], args.words[1]);
  link_put((uint8_t)crc);
  link_put((uint8_t)(crc >> 8));
}

static void start_application(void) __attribute__((noreturn));
static void start_application(void) {
  flash_ready();
  MARKER = START_MARKER;
  wdt_enable(WDTO_15MS);
  for (;;) {
  }
}

/* Whether this reset must stay in the loader rather than start the application. */
static bool must_stay(uint8_t reset) {
  if (pgm_read_word(0) == 0xFFFF) return true; /* no application */
  if ((reset & _BV(WDRF)) && marker == WIRE_STAY_MARKER) return true;
  BOOT_PIN_OUT |= _BV(BOOT_PIN_BIT);          /* pull-up on; the pin is an input after reset */
  __builtin_avr_delay_cycles(F_CPU / 100000); /* 10 us for the pin to rise */
  bool held = !(BOOT_PIN_IN & _BV(BOOT_PIN_BIT));
  BOOT_PIN_OUT &= ~_BV(BOOT_PIN_BIT);
  return held;
}

static void serve(void) {
  uint8_t reset = RESET_FLAGS;
  RESET_FLAGS = 0; /* a set WDRF keeps the watchdog on */
  wdt_disable();
  /* The loader's own watchdog reset: straight to the application, which finds
   * the chip as the reset left it. */
  if ((reset & _BV(WDRF)) && marker == START_MARKER) __asm__ __volatile__("jmp 0");
  link_open();
  if (!must_stay(reset)) {
    uint8_t byte;
    do {
      if (!link_get_timed(&byte, LINK_TICKS(BOOT_WINDOW_MS))) start_application();
    } while (byte != WIRE_ALIVE);
    link_put_flash(alive_reply, sizeof alive_reply);
  }
  for (;;) {
    switch (link_get()) {
      case WIRE_ALIVE:
        link_put_flash(alive_reply, sizeof alive_reply);
        break;
      case WIRE_IDENTIFY:
        link_put_flash(identity, sizeof identity);
        break;
      case WIRE_LOADER_IDS:
        link_put_flash(loader_ids, sizeof loader_ids);
        break;
      case WIRE_SET_ADDRESS:
        if (!get_bytes(args.bytes, 2)) break;
        address = args.words[0];
        link_put(WIRE_ACK);
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
      case WIRE_FLASH_CRC:
        send_crc();
        break;
      case WIRE_LEAVE:
        start_application();
      default:
        break; /* unknown letters are ignored without a reply */
    }
  }
}
