// The baud pop-up's entries, in their order, from the wire's list of rates.
#pragma once

#include <array>

#include "protocol/wire.h"

namespace bm {

inline constexpr std::array<int, 4> kBaudRates{WIRE_BAUD_RATES};

}  // namespace bm
