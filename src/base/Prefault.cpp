#include "base/Prefault.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace bm {
namespace {

// Below this a range holds a few pages at most: the call would cost more than it saves.
constexpr size_t kWorthwhile = 64 * 1024;

}  // namespace

void PrefaultForWrite([[maybe_unused]] void* data, [[maybe_unused]] size_t size) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  if (size < kWorthwhile) return;
  const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto begin = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
  const auto end = (reinterpret_cast<uintptr_t>(data) + size) & ~(page - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#endif
}

std::vector<uint8_t> ZeroedBytes(size_t size) {
  std::vector<uint8_t> bytes;
  bytes.reserve(size);
  PrefaultForWrite(bytes.data(), size);
  bytes.resize(size);
  return bytes;
}

}  // namespace bm
