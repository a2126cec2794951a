/* The few registers the loader uses, under one set of names for every chip
 * it is built for. The ATmega32A and ATmega128A predate the numbered
 * register names; the ATmega32A also shares one address between UBRRH and
 * UCSRC, told apart by URSEL (set: UCSRC).
 */
#ifndef BRINDLEMARK_BOOT_CHIP_H
#define BRINDLEMARK_BOOT_CHIP_H

#include <avr/io.h>

#if defined(UCSR0A) /* 328P, 168PA, 644PA, 1284P, 128A: USART0 */
#define LINK_UCSRA UCSR0A
#define LINK_UCSRB UCSR0B
#define LINK_UDR UDR0
#define LINK_UBRRH UBRR0H
#define LINK_UBRRL UBRR0L
#define LINK_U2X U2X0
#define LINK_RXC RXC0
#define LINK_UDRE UDRE0
#define LINK_TXC TXC0
#define LINK_RXEN RXEN0
#define LINK_TXEN TXEN0
/* 8 data bits, no parity, 2 stop bits */
#define LINK_SET_FRAME() (UCSR0C = _BV(USBS0) | _BV(UCSZ01) | _BV(UCSZ00))
#define LINK_RESET_FRAME() (UCSR0C = _BV(UCSZ01) | _BV(UCSZ00))
#else /* 32A */
#define LINK_UCSRA UCSRA
#define LINK_UCSRB UCSRB
#define LINK_UDR UDR
#define LINK_UBRRH UBRRH
#define LINK_UBRRL UBRRL
#define LINK_U2X U2X
#define LINK_RXC RXC
#define LINK_UDRE UDRE
#define LINK_TXC TXC
#define LINK_RXEN RXEN
#define LINK_TXEN TXEN
#define LINK_SET_FRAME() (UCSRC = _BV(URSEL) | _BV(USBS) | _BV(UCSZ1) | _BV(UCSZ0))
#define LINK_RESET_FRAME() (UCSRC = _BV(URSEL) | _BV(UCSZ1) | _BV(UCSZ0))
#endif

#if defined(TIFR1)
#define TIMER_FLAGS TIFR1
#else
#define TIMER_FLAGS TIFR
#endif

#if defined(EEMPE)
#define EEPROM_ENABLE EEMPE
#define EEPROM_WRITE EEPE
#else /* 32A, 128A */
#define EEPROM_ENABLE EEMWE
#define EEPROM_WRITE EEWE
#endif

#if defined(MCUSR)
#define RESET_FLAGS MCUSR
#else
#define RESET_FLAGS MCUCSR
#endif

/* The boot pin: held low at reset, it keeps the loader. A build option (BOOT_PIN=1), off in the
 * shipped images: anything that pulls the pin low at reset (an LED to ground, a capacitor) would
 * keep the board out of its application. */
#if BOOT_PIN && !defined(BOOT_PIN_PORT)
#if defined(__AVR_ATmega328P__) || defined(__AVR_ATmega168PA__)
#define BOOT_PIN_PORT D
#define BOOT_PIN_BIT 4 /* PD4, Arduino pin 4 */
#elif defined(__AVR_ATmega128A__)
#define BOOT_PIN_PORT E
#define BOOT_PIN_BIT 4 /* PE4 */
#else
#define BOOT_PIN_PORT B
#define BOOT_PIN_BIT 2 /* PB2 on the 644PA, 1284P and 32A */
#endif
#endif
#define BOOT_CAT(a, b) a##b
#define BOOT_REG(kind, port) BOOT_CAT(kind, port)
#define BOOT_PIN_IN BOOT_REG(PIN, BOOT_PIN_PORT)
#define BOOT_PIN_OUT BOOT_REG(PORT, BOOT_PIN_PORT)

#endif
