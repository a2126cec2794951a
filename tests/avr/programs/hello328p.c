/* Test program for the ATmega328P: a flash image that reaches the last page
 * below the boot section, EEPROM data, and one line on USART0 once started:
 *   "hello atmega328p flash ok eeprom <text>" (or "flash BAD at <addr>").
 * The line proves the application runs after "X" and that every byte of
 * its table and of its top page reads back as built. */
#include <avr/eeprom.h>
#include <avr/io.h>
#include <avr/pgmspace.h>

#include "console.h"
#include "pattern.h"

#define TABLE_SIZE (7 * 4096)

static const uint8_t table[TABLE_SIZE] PROGMEM = {PATTERN_R4K(0),     PATTERN_R4K(4096),  PATTERN_R4K(8192),
                                                  PATTERN_R4K(12288), PATTERN_R4K(16384), PATTERN_R4K(20480),
                                                  PATTERN_R4K(24576)};

/* Placed by the linker on the last application page (see CMakeLists.txt). */
static const uint8_t top_page[128]
    __attribute__((section(".toppage"), used)) = {PATTERN_R64(50000), PATTERN_R64(50064)};

static const char greeting[] EEMEM = "brindlemark eeprom";

static uint32_t first_bad(void) {
  for (uint16_t i = 0; i < TABLE_SIZE; i++)
    if (pgm_read_byte(&table[i]) != PATTERN(i)) return (uint32_t)(uint16_t)&table[i];
  for (uint16_t i = 0; i < sizeof top_page; i++)
    if (pgm_read_byte(&top_page[i]) != PATTERN(50000u + i)) return (uint32_t)(uint16_t)&top_page[i];
  return 0;
}

int main(void) {
  console_open();
  console_print("hello atmega328p flash ");
  uint32_t bad = first_bad();
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
