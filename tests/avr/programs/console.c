#include "console.h"

#include <avr/io.h>

#define BAUD 57600
#include <util/setbaud.h>

void console_open(void) {
  UCSR0C = _BV(USBS0) | _BV(UCSZ01) | _BV(UCSZ00);
#if USE_2X
  UCSR0A = _BV(U2X0);
#else
  UCSR0A = 0;
#endif
  UBRR0H = UBRRH_VALUE;
  UBRR0L = UBRRL_VALUE;
  UCSR0B = _BV(TXEN0);
}

void console_put(char c) {
  while (!(UCSR0A & _BV(UDRE0))) {
  }
  UDR0 = (uint8_t)c;
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
