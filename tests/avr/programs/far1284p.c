/* Test program for the ATmega1284P: about 84 KiB of constant tables, so the
 * image runs past 64 KiB (RAMPZ and segment-addressed HEX records matter),
 * a few EEPROM bytes, and one line on USART0 once started:
 *   "hello atmega1284p far ok eeprom <text>" (or "far BAD at <addr>").
 * The tables are read back with far reads, so a page that went to the wrong
 * 64 KiB bank shows in the line. */
#include <avr/eeprom.h>
#include <avr/io.h>
#include <avr/pgmspace.h>

#include "console.h"
#include "pattern.h"

#define PART_SIZE (7 * 4096)
#define PARTS 3

/* Three tables: one C object may not exceed 32 KiB. The linker puts them
 * one after another at the start of flash, so the third lies above 64 KiB. */
static const uint8_t part0[PART_SIZE] PROGMEM = {PATTERN_R4K(0),     PATTERN_R4K(4096),  PATTERN_R4K(8192),
                                                 PATTERN_R4K(12288), PATTERN_R4K(16384), PATTERN_R4K(20480),
                                                 PATTERN_R4K(24576)};
static const uint8_t part1[PART_SIZE] PROGMEM = {PATTERN_R4K(28672), PATTERN_R4K(32768), PATTERN_R4K(36864),
                                                 PATTERN_R4K(40960), PATTERN_R4K(45056), PATTERN_R4K(49152),
                                                 PATTERN_R4K(53248)};
static const uint8_t part2[PART_SIZE] PROGMEM = {PATTERN_R4K(57344), PATTERN_R4K(61440), PATTERN_R4K(65536),
                                                 PATTERN_R4K(69632), PATTERN_R4K(73728), PATTERN_R4K(77824),
                                                 PATTERN_R4K(81920)};

static const char greeting[] EEMEM = "far eeprom";

static uint32_t check_part(uint32_t at, uint32_t first_index) {
  for (uint32_t i = 0; i < PART_SIZE; i++)
    if (pgm_read_byte_far(at + i) != PATTERN(first_index + i)) return at + i;
  return 0;
}

int main(void) {
  console_open();
  console_print("hello atmega1284p far ");
  uint32_t bad = check_part(pgm_get_far_address(part0), 0);
  if (!bad) bad = check_part(pgm_get_far_address(part1), PART_SIZE);
  if (!bad) bad = check_part(pgm_get_far_address(part2), 2UL * PART_SIZE);
  if (bad) {
    console_print("BAD at ");
    console_print_hex(bad, 5);
  } else {
    console_print("ok");
  }
  console_print(" eeprom ");
  char text[sizeof greeting];
  eeprom_read_block(text, greeting, sizeof text);
  text[sizeof text - 1] = 0;
  console_print(text);
  console_print("\r\n");
  for (;;) {
  }
}
