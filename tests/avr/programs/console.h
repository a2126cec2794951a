/* USART0 output for the test programs: 57600 baud 8N2 at F_CPU, polled. */
#ifndef CONSOLE_H
#define CONSOLE_H

#include <stdint.h>

void console_open(void);
void console_put(char c);
void console_print(const char *text);
void console_print_hex(uint32_t value, uint8_t digits);

#endif
