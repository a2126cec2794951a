#include "link.h"

#include "chip.h"

#ifndef BOOT_BAUD
#error "BOOT_BAUD must be given by the build"
#endif
#define BAUD BOOT_BAUD
#define BAUD_TOL 3 /* +2.1 % at 115200 from 16 MHz: docs/loader.md says which adapters take it */
#include <util/setbaud.h>

void link_open(void) {
  /* Frame format first, then the rate: the order the datasheets show. */
  LINK_SET_FRAME();
#if USE_2X
  LINK_UCSRA = _BV(LINK_U2X);
#endif
  LINK_UBRRH = UBRRH_VALUE;
  LINK_UBRRL = UBRRL_VALUE;
  LINK_UCSRB = _BV(LINK_RXEN) | _BV(LINK_TXEN);
  /* Timer1 with prescaler 1024; the waits test its compare flag rather than
   * read the count, so they do the same on every pass until a byte or the
   * timeout comes. */
  TCCR1B = _BV(CS12) | _BV(CS10);
}

uint8_t link_get(void) {
  while (!(LINK_UCSRA & _BV(LINK_RXC))) {
  }
  return LINK_UDR;
}

bool link_get_timed(uint8_t *byte, uint16_t ticks) {
  OCR1A = ticks;
  TCNT1 = 0;
  TIMER_FLAGS = _BV(OCF1A);
  while (!(LINK_UCSRA & _BV(LINK_RXC))) {
    if (TIMER_FLAGS & _BV(OCF1A)) return false;
  }
  *byte = LINK_UDR;
  return true;
}

bool link_get_byte(uint8_t *byte) { return link_get_timed(byte, LINK_TICKS(LINK_TIMEOUT_MS)); }

void link_put(uint8_t byte) {
  while (!(LINK_UCSRA & _BV(LINK_UDRE))) {
  }
  LINK_UDR = byte;
}

void link_put_flash(const uint8_t *bytes, uint8_t count) {
#ifdef RAMPZ
  /* The tables lie in the loader's own section, above 64 KiB on the 128 KiB parts. */
  RAMPZ = (uint8_t)((BOOT_START) >> 16);
#endif
  while (count--) {
    uint8_t byte;
#ifdef RAMPZ
    __asm__ __volatile__("elpm %0, Z+" : "=r"(byte), "+z"(bytes));
#else
    __asm__ __volatile__("lpm %0, Z+" : "=r"(byte), "+z"(bytes));
#endif
    link_put(byte);
  }
}
