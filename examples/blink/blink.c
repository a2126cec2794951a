// Blink: the example firmware for an ATmega328P at 16 MHz (an Arduino-Uno-like board).
//
// The LED on PB5 blinks with on and off times kept in EEPROM, so a download that writes both
// images shows at a glance that the EEPROM arrived: a board with an erased EEPROM (0xFF) falls
// back to the built-in times.
#include <avr/eeprom.h>
#include <avr/io.h>
#include <stdint.h>
#include <util/delay.h>

// Times in units of 10 ms; a marker first so a dump of the EEPROM is easy to recognise.
struct BlinkTimes {
  char marker[6];
  uint8_t on;
  uint8_t off;
};

EEMEM struct BlinkTimes eTimes = {"BLINK", 25, 75};

static void wait10ms(uint8_t n) {
  while (n--) _delay_ms(10);
}

int main(void) {
  struct BlinkTimes times;
  eeprom_read_block(&times, &eTimes, sizeof times);
  if (times.on == 0xFF || times.on == 0) times.on = 50;
  if (times.off == 0xFF || times.off == 0) times.off = 50;

  DDRB |= _BV(DDB5);
  for (;;) {
    PORTB |= _BV(PORTB5);
    wait10ms(times.on);
    PORTB &= ~_BV(PORTB5);
    wait10ms(times.off);
  }
}
