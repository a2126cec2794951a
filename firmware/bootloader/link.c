#include "link.h"

#include <avr/pgmspace.h>

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
  /* TXC is cleared by writing a one; U2X must be written back as it is. */
  LINK_UCSRA = (LINK_UCSRA & _BV(LINK_U2X)) | _BV(LINK_TXC);
  LINK_UDR = byte;
}

void link_put_flash(const uint8_t *bytes, uint8_t count) {
  while (count--) link_put(pgm_read_byte(bytes++));
}
