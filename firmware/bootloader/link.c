#include "link.h"

#include "chip.h"

#ifndef BOOT_BAUD
#error "BOOT_BAUD must be given by the build"
#endif
#define BAUD BOOT_BAUD
#define BAUD_TOL 3 /* +2.1 % at 115200 from 16 MHz: docs/loader.md says which adapters take it */
#include <util/setbaud.h>

#if USE_2X
#define LINK_UCSRA_MODE _BV(LINK_U2X)
#else
#define LINK_UCSRA_MODE 0
#endif

void link_open(uint16_t window_ticks) {
  /* Frame format first, then the rate: the order the datasheets show. */
  LINK_SET_FRAME();
  LINK_UCSRA = LINK_UCSRA_MODE;
  LINK_UBRRH = UBRRH_VALUE;
  LINK_UBRRL = UBRRL_VALUE;
  LINK_UCSRB = _BV(LINK_RXEN) | _BV(LINK_TXEN);
  /* The waits test the compare flags rather than read the count, so they do
   * the same on every pass until a byte or the end comes. */
  OCR1A = window_ticks;
  TIMER_FLAGS = _BV(OCF1A) | _BV(OCF1B);
  TCCR1B = _BV(CS12) | _BV(CS10);
}

bool link_window_over(void) { return TIMER_FLAGS & _BV(OCF1A); }

bool link_ready(void) { return LINK_UCSRA & _BV(LINK_RXC); }

uint8_t link_get(void) {
  while (!link_ready()) {
  }
  return LINK_UDR;
}

int16_t link_get_within(uint16_t ticks) {
  OCR1B = TCNT1 + ticks;
  TIMER_FLAGS = _BV(OCF1B);
  while (!link_ready()) {
    if (TIMER_FLAGS & _BV(OCF1B)) return -1;
  }
  return LINK_UDR;
}

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

bool link_put_alone(const uint8_t *bytes, uint8_t count) {
  LINK_UCSRA = LINK_UCSRA_MODE | _BV(LINK_TXC); /* writing 1 clears it */
  link_put_flash(bytes, count);
  while (!(LINK_UCSRA & _BV(LINK_TXC))) {
  }
  bool alone = !link_ready();
  /* What came meanwhile: at most the two bytes the receiver holds. */
  (void)LINK_UDR;
  (void)LINK_UDR;
  return alone;
}
