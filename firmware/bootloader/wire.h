/* Wire words of the loader protocol, in one place.
 *
 * Every exchange is one command letter from the host, then the bytes the
 * table below names, then the loader's reply. Numbers travel low byte first,
 * except the loader IDs of "i", which are sent most significant byte first.
 * Flash addresses are 16-bit word addresses, EEPROM addresses byte addresses.
 */
#ifndef BRINDLEMARK_BOOT_WIRE_H
#define BRINDLEMARK_BOOT_WIRE_H

#define CMD_PING '?'       /* -> "KW" */
#define CMD_IDENTIFY 'I'   /* -> 'I', sig[3], page words, app words lo hi */
#define CMD_LOADER_IDS 'i' /* -> four 16-bit IDs, MSB first */
#define CMD_ADDRESS 'A'    /* lo hi (word address) -> ACK */
#define CMD_ERASE 'E'      /* erase page at the address -> ACK */
#define CMD_DATA 'D'       /* one page of bytes -> their sum mod 256 */
#define CMD_PROGRAM 'P'    /* write the loaded page at the address -> ACK */
#define CMD_EEPROM 'B'     /* lo hi (byte address), data -> ACK */
#define CMD_EXIT 'X'       /* leave, start the application; no reply */

#define REPLY_ACK 0x0D
/* Answer to "E", "P" or "B" when the address lies outside what the loader
 * may touch (its own boot section, past the EEPROM). Any host that checks
 * for ACK sees a failure instead of believing a write happened. */
#define REPLY_REFUSED '?'

#define PING_REPLY_0 'K'
#define PING_REPLY_1 'W'

/* Loader identification answered to "i". A project file names the first
 * one as BootLoaderID=$0101; the other three are reserved and stay 0. */
#define LOADER_ID_0 0x0101
#define LOADER_ID_1 0x0000
#define LOADER_ID_2 0x0000
#define LOADER_ID_3 0x0000

#endif
