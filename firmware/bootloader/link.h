/* Serial link of the loader: the first USART at BOOT_BAUD, 8 data bits, no
 * parity, 2 stop bits, polled (the loader uses no interrupts, so the
 * application's vector table stays in charge).
 *
 * link_get_timed() gives up after `ms` of silence: between commands the
 * loader waits without end once a host has spoken, but a host that died
 * halfway through a command cannot leave the loader eating the next host's
 * "?" as page data (LINK_TIMEOUT_MS), and after a reset the loader listens
 * only for its window. The application is started by a watchdog reset, so it
 * finds the USART and Timer1 as a reset leaves them.
 */
#ifndef BRINDLEMARK_BOOT_LINK_H
#define BRINDLEMARK_BOOT_LINK_H

#include <stdbool.h>
#include <stdint.h>

#define LINK_TIMEOUT_MS 250
/* Timer1 ticks (prescaler 1024) of `ms` milliseconds; at most about 4 s at 16 MHz. */
#define LINK_TICKS(ms) ((uint16_t)((F_CPU / 1024UL) * (ms) / 1000UL))

void link_open(void);
uint8_t link_get(void);
/* false when no byte came within `ticks` (LINK_TICKS) */
bool link_get_timed(uint8_t *byte, uint16_t ticks);
/* link_get_timed with the in-command timeout */
bool link_get_byte(uint8_t *byte);
void link_put(uint8_t byte);
/* `count` bytes from flash (PROGMEM) */
void link_put_flash(const uint8_t *bytes, uint8_t count);

#endif
