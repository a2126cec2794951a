// What the target reported about itself at identification ("I").
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace bm {

struct TargetInfo {
  int32_t TargID = 0;     // signature read from the target
  int32_t FlashEnd = 0;   // target flash size in 16-bit words
  int32_t BlockSize = 0;  // target page size in 16-bit words
  // LoaderID and LoaderID1..3 from the reply to "i"; none when "i" was not asked.
  std::optional<std::array<uint32_t, 4>> LoaderIds;
};

}  // namespace bm
