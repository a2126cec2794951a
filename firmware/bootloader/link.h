/* Serial link of the loader: the first USART at BOOT_BAUD, 8 data bits, no
 * parity, 2 stop bits, polled (the loader uses no interrupts, so the
 * application's vector table stays in charge).
 *
 * Timer1 runs from link_open() with prescaler 1024 and is never restarted:
 * its compare A flag marks the end of the window after reset (BOOT_WINDOW_MS,
 * which bytes on the line do not extend), compare B times the shorter waits
 * (link_get_within). Between commands of a session the loader waits without
 * end; within a command each byte must come within LINK_TIMEOUT_MS, so a
 * host that died halfway through cannot leave the loader eating the next
 * host's "?" as page data. The application is started by a watchdog reset,
 * so it finds the USART and Timer1 as a reset leaves them.
 */
#ifndef BRINDLEMARK_BOOT_LINK_H
#define BRINDLEMARK_BOOT_LINK_H

#include <stdbool.h>
#include <stdint.h>

#define LINK_TIMEOUT_MS 250
/* Timer1 ticks (prescaler 1024) of `ms` milliseconds. The timer has 16 bits: at 16 MHz it holds
 * 4.19 s; LINK_CHECK_TICKS below refuses a wait it cannot hold. */
#define LINK_TICKS(ms) ((uint16_t)((F_CPU / 1024UL) * (ms) / 1000UL))
#define LINK_FITS(ms) ((F_CPU / 1024UL) * (ms) / 1000UL <= 65535UL)
#if !LINK_FITS(LINK_TIMEOUT_MS)
#error "LINK_TIMEOUT_MS does not fit Timer1 at this F_CPU"
#endif

/* Starts the USART and Timer1; the window of `window_ticks` begins now. */
void link_open(uint16_t window_ticks);
/* Whether the window after reset has ended. */
bool link_window_over(void);
/* Waits for a byte without end. */
uint8_t link_get(void);
/* Whether a byte is waiting. */
bool link_ready(void);
/* The next byte, or -1 when none came within `ticks` (LINK_TICKS) */
int16_t link_get_within(uint16_t ticks);
void link_put(uint8_t byte);
/* `count` bytes from flash (PROGMEM) */
void link_put_flash(const uint8_t *bytes, uint8_t count);
/* `count` bytes from flash, then waits until they have left the line; true when nothing arrived
 * meanwhile (what arrived is dropped). A host waits for a reply before it sends again; a line
 * that goes on talking over the reply is noise. */
bool link_put_alone(const uint8_t *bytes, uint8_t count);

#endif
