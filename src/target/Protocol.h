// The bootloader's wire words: command letters, reply bytes and sizes, in one place.
//
// A command is one ASCII letter sent as one byte; multi-byte numbers go low byte first (the
// loader IDs of "i" are the one exception, most significant byte first). Flash addresses and
// sizes count 16-bit words, EEPROM addresses count bytes. The sequences in this folder use these
// names, never bare literals.
#pragma once

#include <cstdint>
#include <string_view>

namespace bm::protocol {

// Command letters.
inline constexpr char kAlive = '?';        // are you a bootloader -> "KW"
inline constexpr char kIdentify = 'I';     // -> 'I', signature (3), page words (1), flash words (2)
inline constexpr char kLoaderIds = 'i';    // -> four 16-bit loader IDs, MSB first
inline constexpr char kSetAddress = 'A';   // + word address lo, hi -> ack
inline constexpr char kErasePage = 'E';    // erase the page at the set address -> ack
inline constexpr char kLoadPage = 'D';     // + one page of data -> checksum byte
inline constexpr char kProgramPage = 'P';  // write the loaded page at the set address -> ack
inline constexpr char kWriteEeprom = 'B';  // + byte address lo, hi, data byte -> ack
inline constexpr char kLeave = 'X';        // leave the loader and start the program; no reply

// Replies.
inline constexpr std::string_view kAliveReply = "KW";
inline constexpr uint8_t kAck = 0x0D;  // carriage return: a command without data succeeded

// Reply sizes.
inline constexpr int kAliveReplyBytes = 2;
inline constexpr int kIdentifyEchoBytes = 1;
inline constexpr int kSignatureBytes = 3;
inline constexpr int kPageSizeBytes = 1;
inline constexpr int kFlashSizeBytes = 2;
inline constexpr int kLoaderIdsBytes = 8;
inline constexpr int kLoaderIdsMinimumBytes = 2;  // fewer is a failed exchange
inline constexpr int kAckBytes = 1;

// The host's page buffer: a page must fit, so the loader's page may be at most 128 words.
inline constexpr int kBlockBufferBytes = 256;
inline constexpr int kMaxPageWords = kBlockBufferBytes / 2;

// Reply waits: passes of one event-loop wait of kPassMs each.
inline constexpr int kPassMs = 1;
inline constexpr int kComWaitPasses = 50;
// A page erase can take longer than a COMwait; its wait is bounded all the same (a few seconds).
inline constexpr int kEraseWaitPasses = 5000;

}  // namespace bm::protocol
