// SHA-256 from the system's crypto library (libcrypto on Linux, CNG on Windows): the hash a run
// and a load report for the bytes they used.
#pragma once

#include <string>
#include <string_view>

namespace bm {

// 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes);

}  // namespace bm
