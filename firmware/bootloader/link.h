/* Serial link of the loader: USART0 at BOOT_BAUD, 8 data bits, no parity,
 * 2 stop bits, polled (the loader uses no interrupts, so the application's
 * vector table stays in charge).
 *
 * link_get() waits for ever: the loader idles there between commands.
 * link_get_timed() gives up after LINK_TIMEOUT_MS of silence so a host that
 * died halfway through a command cannot leave the loader eating the next
 * host's "?" as page data. link_close() puts USART0 and Timer1 back to
 * their reset state before the application starts.
 */
#ifndef BRINDLEMARK_BOOT_LINK_H
#define BRINDLEMARK_BOOT_LINK_H

#include <stdbool.h>
#include <stdint.h>

#define LINK_TIMEOUT_MS 250

void link_open(void);
void link_close(void);
uint8_t link_get(void);
/* false when no byte came within LINK_TIMEOUT_MS */
bool link_get_timed(uint8_t *byte);
void link_put(uint8_t byte);

#endif
