#include "base/Sha256.h"

#include <array>
#include <cstdint>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

namespace bm {
namespace {

std::string HexOf(const std::array<uint8_t, 32>& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(64);
  for (uint8_t b : digest) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
  std::array<uint8_t, 32> digest{};
#ifdef _WIN32
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0 &&
            BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) >= 0;
  // CNG takes at most 4 GiB a call.
  for (size_t at = 0; ok && at < bytes.size(); at += 0x40000000) {
    const size_t n = std::min<size_t>(bytes.size() - at, 0x40000000);
    ok = BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data() + at)),
                        static_cast<ULONG>(n), 0) >= 0;
  }
  ok = ok && BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0) >= 0;
  if (hash) BCryptDestroyHash(hash);
  if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
#else
  unsigned int length = 0;
  const bool ok =
      EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) == 1 &&
      length == digest.size();
#endif
  if (!ok) throw std::runtime_error("SHA-256 is not available from the system's crypto library");
  return HexOf(digest);
}

}  // namespace bm
