// Large buffers that are filled right away: their pages mapped in one call.
//
// A fresh page costs a page fault the first time it is written, and under virtualisation that
// fault is dear (some 10 µs each on a cloud VM; a 256 KiB image and the text of its HEX file are
// about 250 pages). Asking the kernel to map the whole range at once roughly halves that. It is
// only a request: where it is not offered (Linux before 5.14, other systems) nothing happens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bm {

// Maps the whole pages inside [data, data + size) for writing, if the system offers it.
void PrefaultForWrite(void* data, size_t size);

// `size` zero bytes, their pages mapped in one call.
std::vector<uint8_t> ZeroedBytes(size_t size);

}  // namespace bm
