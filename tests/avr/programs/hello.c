/* The test program of every chip the loader is built for: once started it prints
 * "hello <mcu>" and the first word of its own table, read back from flash. */
#include <avr/pgmspace.h>

#include "console.h"
#include "pattern.h"

#define STRINGIFY(x) #x
#define NAME(x) STRINGIFY(x)

static const uint8_t table[256] PROGMEM = {PATTERN_R64(0), PATTERN_R64(64), PATTERN_R64(128),
                                           PATTERN_R64(192)};

int main(void) {
  console_open();
  console_print("hello " NAME(MCU_NAME) " ");
  uint8_t bad = 0;
  for (uint16_t i = 0; i < sizeof table; i++) bad |= pgm_read_byte(&table[i]) != PATTERN(i);
  console_print(bad ? "flash BAD\r\n" : "flash ok\r\n");
  for (;;) {
  }
}
