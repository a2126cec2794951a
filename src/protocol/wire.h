/* The loader protocol's wire words, in one place for the host, the simulated
 * target and the AVR bootloader alike (plain C, so the firmware can use it).
 *
 * Every exchange is one command letter from the host, then the bytes the
 * table below names, then the loader's reply. Numbers travel low byte first,
 * except the loader IDs of "i", which are sent most significant byte first.
 * Flash addresses and sizes count 16-bit words, EEPROM addresses count bytes.
 */
#ifndef BRINDLEMARK_PROTOCOL_WIRE_H
#define BRINDLEMARK_PROTOCOL_WIRE_H

/* Command letters. */
#define WIRE_ALIVE '?'        /* are you a loader -> "KW" */
#define WIRE_IDENTIFY 'I'     /* -> 'I', signature[3], page words, flash words lo hi */
#define WIRE_LOADER_IDS 'i'   /* -> four 16-bit loader IDs, MSB first */
#define WIRE_SET_ADDRESS 'A'  /* + word address lo hi -> ACK */
#define WIRE_ERASE_PAGE 'E'   /* erase the page at the set address -> ACK */
#define WIRE_LOAD_PAGE 'D'    /* + one page of data -> the data's sum mod 256 */
#define WIRE_PROGRAM_PAGE 'P' /* write the loaded page at the set address -> ACK */
#define WIRE_WRITE_EEPROM 'B' /* + byte address lo hi, data byte -> ACK */
#define WIRE_LEAVE 'X'        /* leave the loader, start the program; no reply */
/* An extension of our own loader family, sent only to a loader whose "i" reply names the family
 * (LoaderID1) and the capability (LoaderID3): + start word lo hi, word count lo hi (0: 65536) ->
 * the CRC-16/MCRF4XX of that flash range (CCITT polynomial reflected, 0x8408; initial value
 * 0xFFFF; no final XOR), 2 bytes, low byte first. */
#define WIRE_FLASH_CRC 'C'
/* The second version's checks (capability WIRE_CAPABILITY_CRC32): + start lo hi, byte count lo hi
 * (0: 65536) -> the CRC-32 of that range (IEEE 802.3 as zlib has it: polynomial 0x04C11DB7
 * reflected, 0xEDB88320; initial value and final XOR 0xFFFFFFFF), 4 bytes, low byte first. The
 * flash check takes a word address, the EEPROM check a byte address. A host asks at most
 * WIRE_CRC32_BLOCK_BYTES at a time: within such a block a CRC-32 finds every error of up to
 * three bits, wherever they lie, and every burst of up to 32. */
#define WIRE_FLASH_CRC32 'V'
#define WIRE_EEPROM_CRC32 'v'

/* Replies. */
#define WIRE_ALIVE_REPLY "KW"
#define WIRE_ALIVE_REPLY_0 'K'
#define WIRE_ALIVE_REPLY_1 'W'
#define WIRE_ACK 0x0D /* carriage return: a command without data succeeded */
/* Answer to "E", "P" or "B" at an address the loader may not touch (its own
 * boot section, past the EEPROM): a host that checks for ACK sees a failure
 * instead of believing a write happened. */
#define WIRE_REFUSED '?'

/* Bytes of each command, its letter included (the page data of "D" varies). */
#define WIRE_SET_ADDRESS_BYTES 3
#define WIRE_WRITE_EEPROM_BYTES 4

/* Bytes of each reply. */
#define WIRE_ALIVE_REPLY_BYTES 2
#define WIRE_IDENTIFY_ECHO_BYTES 1
#define WIRE_SIGNATURE_BYTES 3
#define WIRE_PAGE_SIZE_BYTES 1
#define WIRE_FLASH_SIZE_BYTES 2
#define WIRE_LOADER_IDS_BYTES 8
#define WIRE_LOADER_IDS_MIN_BYTES 2 /* fewer is a failed exchange */
#define WIRE_ACK_BYTES 1
#define WIRE_FLASH_CRC_BYTES 5 /* its letter, start word, word count */
#define WIRE_CRC_REPLY_BYTES 2
#define WIRE_CRC32_BYTES 5 /* its letter, start, byte count */
#define WIRE_CRC32_REPLY_BYTES 4
#define WIRE_CRC32_BLOCK_BYTES 4096

/* What "i" says of a loader of our family: LoaderID1 is the family marker ("BM"), LoaderID2 its
 * version (major, minor), LoaderID3 what it can do. */
#define WIRE_FAMILY_ID 0x424D
#define WIRE_CAPABILITY_FLASH_CRC 0x0001 /* understands WIRE_FLASH_CRC (the first version) */
#define WIRE_CAPABILITY_CRC32 0x0002     /* understands WIRE_FLASH_CRC32 and WIRE_EEPROM_CRC32 */
/* An application that wants the loader (an "update firmware" menu) writes WIRE_STAY_MARKER to the
 * last two bytes of SRAM (the word at RAMEND - 1) and WIRE_STAY_CHECK to the two below them (the
 * word at RAMEND - 3), then lets the watchdog reset the chip. */
#define WIRE_STAY_MARKER 0xB007
#define WIRE_STAY_CHECK 0x4FF8 /* ~WIRE_STAY_MARKER */
/* The second version hands the application the reset flags (MCUSR) as the reset left them: the
 * byte at RAMEND - WIRE_RESET_CAUSE_BELOW_RAMEND. */
#define WIRE_RESET_CAUSE_BELOW_RAMEND 4

/* The host's page buffer: a page must fit, so a page may have at most 128 words. */
#define WIRE_BLOCK_BUFFER_BYTES 256
#define WIRE_MAX_PAGE_WORDS (WIRE_BLOCK_BUFFER_BYTES / 2)

/* The line: 8 data bits, no parity, 2 stop bits, so a byte is 11 bit times. */
#define WIRE_BITS_PER_FRAME 11
#define WIRE_BAUD_RATES 9600, 19200, 38400, 57600 /* the rates a project or the pop-up names */
#define WIRE_DEFAULT_BAUD 57600                   /* when a project names none */

#endif
