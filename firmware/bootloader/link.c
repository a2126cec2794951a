#include "link.h"

#include <avr/io.h>

#ifndef BOOT_BAUD
#error "BOOT_BAUD must be given by the build"
#endif
#define BAUD BOOT_BAUD
#include <util/setbaud.h>

/* Timer1 with prescaler 1024 counts F_CPU/1024 ticks per second; at 16 MHz
 * its 16-bit range covers about 4 s, far more than the timeout needs. The
 * wait loop tests the compare flag rather than reading the count, so it
 * does the same thing on every pass until a byte or the timeout comes. */
static bool sent_any;

#define TIMEOUT_TICKS ((uint16_t)((F_CPU / 1024UL) * LINK_TIMEOUT_MS / 1000UL))

void link_open(void) {
  /* Frame format first, then the rate: the order the datasheet shows,
   * and some emulators only take the format into account when the
   * baud registers are written. */
  UCSR0C = _BV(USBS0) | _BV(UCSZ01) | _BV(UCSZ00); /* 8N2 */
#if USE_2X
  UCSR0A = _BV(U2X0);
#else
  UCSR0A = 0;
#endif
  UBRR0H = UBRRH_VALUE;
  UBRR0L = UBRRL_VALUE;
  UCSR0B = _BV(RXEN0) | _BV(TXEN0);
  OCR1A = TIMEOUT_TICKS;
  TCCR1B = _BV(CS12) | _BV(CS10);
}

void link_close(void) {
  /* Let the last byte leave the shift register before the transmitter
   * is switched off, or its tail would be cut. */
  if (sent_any) {
    while (!(UCSR0A & _BV(TXC0))) {
    }
  }
  UCSR0B = 0;
  UCSR0A = 0;
  UCSR0C = _BV(UCSZ01) | _BV(UCSZ00);
  UBRR0H = 0;
  UBRR0L = 0;
  TCCR1B = 0;
  TCNT1 = 0;
  OCR1A = 0;
  TIFR1 = _BV(OCF1A); /* flags clear when written with one */
}

uint8_t link_get(void) {
  while (!(UCSR0A & _BV(RXC0))) {
  }
  return UDR0;
}

bool link_get_timed(uint8_t *byte) {
  TCNT1 = 0;
  TIFR1 = _BV(OCF1A);
  while (!(UCSR0A & _BV(RXC0))) {
    if (TIFR1 & _BV(OCF1A)) return false;
  }
  *byte = UDR0;
  return true;
}

void link_put(uint8_t byte) {
  while (!(UCSR0A & _BV(UDRE0))) {
  }
  /* TXC is cleared by writing a one; U2X0 must be written back as is. */
  UCSR0A = (UCSR0A & _BV(U2X0)) | _BV(TXC0);
  UDR0 = byte;
  sent_any = true;
}
