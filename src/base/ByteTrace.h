// The byte trace: bytes that crossed the serial line, in the one text form every trace uses.
//
// A trace line is a label and the bytes in hex, "sent: 41 C0 3F" or "> 41 C0 3F"; a trace of
// several exchanges joins its lines with " | ": "sent: 41 C0 3F 45 | received: 0D".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/SerialPort.h"

namespace bm {

// label + " XX" per byte ("sent:" and 41 C0 give "sent: 41 C0").
std::string TraceLine(std::string_view label, std::string_view bytes);
// The entries joined with " | ", labelled "sent:" (host to target) and "received:"; with
// maxEntries > 0 only the last entries, after "... | ".
std::string TraceText(const std::vector<TraceEntry>& entries, size_t maxEntries = 0);

}  // namespace bm
