/* Brindlemark's serial bootloader for the ATmega328P, 168PA, 644PA, 1284P,
 * 32A and 128A.
 *
 * Runs from a boot section of 512 words (BOOTRST programmed). After a reset
 * it stays in the loader when there is no application (the first flash word
 * is erased), when the application asked for it (a watchdog reset with
 * WIRE_STAY_MARKER and WIRE_STAY_CHECK at the top of SRAM) or, in builds
 * with BOOT_PIN=1, when the boot pin is held low; otherwise it listens for
 * BOOT_WINDOW_MS from the reset (bytes do not extend it) and then starts the
 * application unless a session began.
 *
 * A session begins only with the wake-up a host sends and noise rarely
 * fakes: "?", answered "KW" with the line otherwise quiet, then "I" as the
 * very next byte, within WAKE_MS, answered with the identity with the line
 * quiet again. Before that nothing is erased or written; once it has begun
 * the loader serves the host until "X", waiting between commands without
 * end. The command letters and replies are in src/protocol/wire.h, shared
 * with the host. Flash size in "I" is the application section only: the host
 * erases and writes below that, and the 16-bit word addresses stay valid on
 * the 128 KiB parts.
 *
 * It is built without the C start-up code (no vector table, nothing copied
 * or zeroed), which keeps every build within 1024 bytes: boot() below is the
 * first instruction of the section. It starts the application with a
 * watchdog reset (and START_MARKER), so the application finds every
 * peripheral as a reset leaves it, and the reset flags of the reset that
 * started the loader in SRAM (WIRE_RESET_CAUSE_BELOW_RAMEND); the watchdog's
 * 15 ms also let the last reply byte leave the line.
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
#if !LINK_FITS(BOOT_WINDOW_MS)
#error "BOOT_WINDOW_MS does not fit Timer1 at this F_CPU: make the window shorter"
#endif
/* How long the loader waits for the "I" of a wake-up after its "KW" (a slow host, a USB hub). */
#define WAKE_MS 500
#if !LINK_FITS(WAKE_MS)
#error "WAKE_MS does not fit Timer1 at this F_CPU"
#endif

/* Loader identification answered to "i". A project file names the first
 * one as BootLoaderID=$0101. */
#define LOADER_ID_0 0x0101
#define LOADER_VERSION 0x0200 /* 2.0 */

/* The top of SRAM survives a watchdog reset: the application leaves
 * WIRE_STAY_MARKER and WIRE_STAY_CHECK there to ask for the loader, the
 * loader START_MARKER (and the reset flags) to start the application. The
 * loader's stack begins below them. */
#define START_MARKER 0x57A7
#define MARKER (*(volatile uint16_t *)(RAMEND - 1))
#define MARKER_CHECK (*(volatile uint16_t *)(RAMEND - 3))
#define RESET_CAUSE (*(volatile uint8_t *)(RAMEND - WIRE_RESET_CAUSE_BELOW_RAMEND))
#define STACK_TOP (RAMEND - WIRE_RESET_CAUSE_BELOW_RAMEND - 1)

/* Nothing is zeroed at start: each is set before it is read. */
static uint8_t page[SPM_PAGESIZE] __attribute__((section(".noinit")));
static uint16_t address __attribute__((section(".noinit"))); /* word address set by "A" */
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
static const uint8_t loader_ids[] PROGMEM = {
    LOADER_ID_0 >> 8,    (uint8_t)LOADER_ID_0,    WIRE_FAMILY_ID >> 8,        (uint8_t)WIRE_FAMILY_ID,
    LOADER_VERSION >> 8, (uint8_t)LOADER_VERSION, WIRE_CAPABILITY_CRC32 >> 8, (uint8_t)WIRE_CAPABILITY_CRC32};
static const uint8_t alive_reply[] PROGMEM = {WIRE_ALIVE_REPLY_0, WIRE_ALIVE_REPLY_1};

static void serve(void) __attribute__((noinline, noreturn));

/* In .vectors, the first input section of .text: the tables in flash would
 * come before .init0. */
void boot(void) __attribute__((naked, used, noreturn, section(".vectors")));
void boot(void) {
  __asm__ __volatile__("clr __zero_reg__"); /* SREG is 0 after any reset */
  SP = STACK_TOP;                           /* the markers and the reset flags above it stay as they are */
  serve();
}

/* The sum of the bytes get_bytes read last (a page's checksum). */
static uint8_t sum __attribute__((section(".noinit")));

/* Reads `count` bytes of a command (1 to 256: 0 is 256, a page of the 128 KiB parts), each within the
 * in-command timeout; false when the host went quiet (no reply then). */
static bool get_bytes(uint8_t *into, uint8_t count) {
  sum = 0;
  do {
    const int16_t byte = link_get_within(LINK_TICKS(LINK_TIMEOUT_MS));
    if (byte < 0) return false;
    *into++ = (uint8_t)byte;
    sum += (uint8_t)byte;
  } while (--count);
  return true;
}

static void load_page(void) {
  if (get_bytes(page, (uint8_t)SPM_PAGESIZE)) link_put(sum); /* a host gone mid-page gets no reply */
}

static void write_eeprom(void) {
  if (!get_bytes(args.bytes, 3)) return;
  if (args.words[0] > E2END) {
    link_put(WIRE_REFUSED);
    return;
  }
  flash_finish(); /* no EEPROM write while the flash is busy */
  EEAR = args.words[0];
  EEDR = args.bytes[2];
  /* The write must start within four cycles of the enable. */
  __asm__ __volatile__("sbi %[eecr], %[enable]\n\tsbi %[eecr], %[write]" ::[eecr] "I"(_SFR_IO_ADDR(EECR)),
                       [enable] "I"(EEPROM_ENABLE), [write] "I"(EEPROM_WRITE));
  /* Acknowledge a finished write, so "X" right after cannot cut it. */
  eeprom_busy_wait();
  link_put(WIRE_ACK);
}

/* The reply of "V" or "v", whose bytes have arrived; the flash and the EEPROM are idle. Calls
 * nothing while it counts, so the CRC stays in registers that need no saving. */
static void send_crc32(bool eeprom) {
  uint32_t crc = memory_crc32(eeprom, args.words[0], args.words[1]);
  for (uint8_t i = 0; i < 4; i++, crc >>= 8) {
    while (!(LINK_UCSRA & _BV(LINK_UDRE))) {
    }
    LINK_UDR = (uint8_t)crc;
  }
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
  if ((reset & _BV(WDRF)) && MARKER == WIRE_STAY_MARKER && MARKER_CHECK == WIRE_STAY_CHECK) return true;
#if BOOT_PIN
  BOOT_PIN_OUT |= _BV(BOOT_PIN_BIT);          /* pull-up on; the pin is an input after reset */
  __builtin_avr_delay_cycles(F_CPU / 100000); /* 10 us for the pin to rise */
  bool held = !(BOOT_PIN_IN & _BV(BOOT_PIN_BIT));
  BOOT_PIN_OUT &= ~_BV(BOOT_PIN_BIT);
  return held;
#else
  return false;
#endif
}

/* Waits for the wake-up that begins a session; without `stay`, starts the
 * application when the window ends first. A "?" still waiting for its "I"
 * when the window ends falls back to the application too. */
static void wait_for_session(bool stay) {
  for (;;) {
    while (!link_ready()) {
      if (!stay && link_window_over()) start_application();
    }
    if (link_get() != WIRE_ALIVE || !link_put_alone(alive_reply, sizeof alive_reply)) continue;
    if (link_get_within(LINK_TICKS(WAKE_MS)) != WIRE_IDENTIFY) continue;
    if (link_put_alone(identity, sizeof identity)) return;
  }
}

static void serve(void) {
  uint8_t reset = RESET_FLAGS;
  RESET_FLAGS = 0; /* a set WDRF keeps the watchdog on */
  /* Off in the timed sequence; interrupts are still disabled after the reset. */
  _WD_CONTROL_REG = _BV(_WD_CHANGE_BIT) | _BV(WDE);
  _WD_CONTROL_REG = 0;
  /* The loader's own watchdog reset: straight to the application, which finds
   * the chip as the reset left it and the flags of the reset before it. */
  if ((reset & _BV(WDRF)) && MARKER == START_MARKER) __asm__ __volatile__("jmp 0");
  RESET_CAUSE = reset;
  link_open(LINK_TICKS(BOOT_WINDOW_MS));
  wait_for_session(must_stay(reset));
  for (;;) {
    const uint8_t command = link_get();
    switch (command) {
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
        if (get_bytes((uint8_t *)&address, 2)) link_put(WIRE_ACK);
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
      case WIRE_FLASH_CRC32:
      case WIRE_EEPROM_CRC32:
        if (!get_bytes(args.bytes, 4)) break;
        flash_ready();
        eeprom_busy_wait();
        send_crc32(command == WIRE_EEPROM_CRC32);
        break;
      case WIRE_LEAVE:
        start_application();
      default:
        break; /* unknown letters are ignored without a reply */
    }
  }
}
