// Text between the logic's UTF-8 and the W calls: names that are not ASCII survive the round
// trip, a pack's Latin-1 bytes show as Latin-1, and captions show a doubled ampersand as one.
#include <gtest/gtest.h>

#include "shell/win32/Text.h"

namespace bm::win32 {
namespace {

TEST(Win32Text, Utf8RoundTripsThroughUtf16) {
  for (const char* text : {"C:\\Users\\J\xC3\xBCrgen\\blink.ppro", "\xE6\x97\xA5\xE6\x9C\xAC.hex",
                           "\xF0\x9F\x94\xA5 emoji outside the BMP.hex", "", "plain"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Utf8(Wide(text)), text);
  }
  EXPECT_EQ(Wide("J\xC3\xBCrgen"), L"J\u00FCrgen");
  EXPECT_EQ(Wide("\xF0\x9F\x94\xA5").size(), 2u) << "a surrogate pair";
}

TEST(Win32Text, BytesThatAreNoUtf8ShowAsLatin1) {
  // A pack written on another system: "Jürgen" in Latin-1.
  EXPECT_EQ(Wide("J\xFCrgen"), L"J\u00FCrgen");
  EXPECT_EQ(Wide("\xC3"), L"\u00C3") << "a lone lead byte";
}

TEST(Win32Text, CaptionsShowADoubledAmpersandAsOne) {
  const struct {
    const char* set;
    const char* shown;
  } cases[] = {
      {"Device ID : &&1E950F", "Device ID : &1E950F"},
      {"R&D", "R&D"},  // a single one is no mnemonic: shown as it is
      {"&&&", "&&"},   // pairs are taken left to right
      {"&&&&", "&&"},
      {"a&", "a&"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(CaptionText(c.set), c.shown) << c.set;
}

TEST(Win32Text, LineBreaksBecomeCrLfOnce) {
  EXPECT_EQ(WithCrLf(L"a\nb\r\nc\n"), L"a\r\nb\r\nc\r\n");
  EXPECT_EQ(WithCrLf(L"\n"), L"\r\n");
}

}  // namespace
}  // namespace bm::win32
