// The line buffer: the line-end rules, views that stay valid with the buffer that holds them, and
// what it holds after a HEX load.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ImagesFixture.h"
#include "images/Images.h"
#include "images/UHexLoad.h"

namespace bm {
namespace {

std::vector<std::string> Lines(const LineBuffer& st) { return {st.begin(), st.end()}; }

TEST(LineBuffer, LineEnds) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"", {""}},
      {"a", {"a"}},
      {"a\n", {"a"}},
      {"a\nb", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"\r\n", {""}},
      {"\n\n", {"", ""}},
      {"a\r\r\nb", {"a", "", "b"}},
      {"a\n\rb", {"a", "", "b"}},
      {"a\n\r\nb", {"a", "", "b"}},
      {std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
  };
  for (const auto& [text, lines] : cases) {
    SCOPED_TRACE(testing::PrintToString(text));
    LineBuffer st;
    size_t perLine = 0;
    st.Assign(text, [&] { ++perLine; });
    EXPECT_EQ(Lines(st), lines);
    EXPECT_EQ(perLine, lines.size()) << "once per line";
  }
}

TEST(LineBuffer, ACopyHoldsItsOwnText) {
  LineBuffer st{"", ":00000001FF"};
  LineBuffer copy = st;
  st.Assign("something else\nentirely\n");
  EXPECT_EQ(Lines(copy), (std::vector<std::string>{"", ":00000001FF"}));
  copy.DropFront(1);
  EXPECT_EQ(Lines(copy), std::vector<std::string>{":00000001FF"});
  const LineBuffer moved = std::move(copy);
  EXPECT_EQ(moved[0], ":00000001FF");
}

TEST(LineBuffer, HoldsTheLinesOfTheHexFileReadLast) {
  test::ScratchDir dir;
  Globals g;
  test::RecordingDialogs dialogs;
  test::ScriptedEventLoop loop;
  EXPECT_EQ(Lines(g.st), (std::vector<std::string>{"", ""})) << "the state before any load";
  UHexLoad::IntelHex(dir.Write("a.hex", "\n\r\n:0100000042BD\r\n:00000001FF"), false, g, g.st,
                     test::Shown(dialogs), loop);
  EXPECT_EQ(Lines(g.st), (std::vector<std::string>{":0100000042BD", ":00000001FF"}))
      << "without the leading empty lines";
  UHexLoad::IntelHex(dir.Path("missing.hex"), false, g, g.st, test::Shown(dialogs), loop);
  EXPECT_TRUE(g.st.empty()) << "nothing read";
}

}  // namespace
}  // namespace bm
