#include "console.h"

#include <avr/io.h>

#include "bootloader/chip.h" /* the loader's register names, the same on every chip */

#define BAUD 57600
#include <util/setbaud.h>

void console_open(void) {
  LINK_SET_FRAME();
#if USE_2X
  LINK_UCSRA = _BV(LINK_U2X);
#else
  LINK_UCSRA = 0;
#endif
  LINK_UBRRH = UBRRH_VALUE;
  LINK_UBRRL = UBRRL_VALUE;
  LINK_UCSRB = _BV(LINK_TXEN);
}

void console_put(char c) {
  while (!(LINK_UCSRA & _BV(LINK_UDRE))) {
  }
  LINK_UDR = (uint8_t)c;
}

void console_print(const char *text) {
  while (*text) console_put(*text++);
}

void console_print_hex(uint32_t value, uint8_t digits) {
  while (digits--) {
    uint8_t d = (value >> (4 * digits)) & 0xF;
    console_put(d < 10 ? '0' + d : 'A' + d - 10);
  }
}
