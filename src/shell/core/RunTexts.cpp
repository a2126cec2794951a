#include "shell/core/RunTexts.h"

#include <cstdio>

namespace bm {

const char* PhaseText(Phase phase) {
  switch (phase) {
    case Phase::Flash:
      return "programming Flash";
    case Phase::Eeprom:
      return "programming EEprom";
    case Phase::Erase:
      break;
  }
  return "";
}

const char* PartlyDone(Phase phase) {
  switch (phase) {
    case Phase::Flash:
      return "the flash is partly written";
    case Phase::Eeprom:
      return "the EEPROM is partly written";
    case Phase::Erase:
      return "the flash is partly erased";
  }
  return "";
}

std::string CommunicationErrorText(Failure failure) {
  return std::to_string(Number(failure)) + " Communication error";
}

std::string NothingToWriteText(NothingReason nothing) {
  switch (nothing) {
    case NothingReason::NoFlashToErase:
      return "Nothing to erase: no flash image is loaded";
    case NothingReason::FlashLeftOut:
      return "Nothing to write: --no-flash leaves out the flash image and the file has no EEPROM image";
    case NothingReason::EepromLeftOut:
      return "Nothing to write: --no-eeprom leaves out the EEPROM image and the file has no flash image";
    case NothingReason::NoImage:
      break;
  }
  return "Nothing to write: the file holds no image";
}

std::string FileChangedText(const std::string& file, const std::string& why) {
  return file + " changed on disk and " + why + ": nothing was written.";
}

std::string AddressText(int64_t address) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%04llX", static_cast<unsigned long long>(address));
  return text;
}

std::optional<std::string> VerifyFailedText(const Verification& v) {
  switch (v.outcome) {
    case Verification::Outcome::Verified:
      return std::nullopt;
    case Verification::Outcome::Differs:
      if (v.firstDifferingPage >= 0)
        return "Verify failed: the flash differs from the image from the page at " +
               AddressText(v.firstDifferingPage) + " on.";
      return "Verify failed: the EEPROM differs from the image from the byte at " +
             AddressText(v.firstDifferingEepromByte) + " on.";
    case Verification::Outcome::NoAnswer:
      break;
  }
  return "Verify failed: the loader did not answer the flash check.";
}

}  // namespace bm
