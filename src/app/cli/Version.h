// What `brindlemark-cli --version` prints.
#pragma once

namespace bm::cli {

inline constexpr const char* kVersionText = "brindlemark-cli " BRINDLEMARK_VERSION_TEXT "\nLicense: MIT\n";

}  // namespace bm::cli
