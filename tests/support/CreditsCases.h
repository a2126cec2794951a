// The credits' mark-up and how it is shown, character by character: the same table for the
// reading of the runs (shell/core) and for the Qt window's styled text. Styles: one letter per
// character, "." plain, "B" bold, "I" italic, "X" both.
#pragma once

namespace bm::test {

struct CreditsCase {
  const char* input;
  const char* shown;
  const char* styles;
  const char* why;
};

inline constexpr CreditsCase kCreditsCases[] = {
    {"a<b>b</b>c", "abc", ".B.", "a pair styles exactly the text between"},
    {"a<B>b</B>c", "abc", ".B.", "tag names ignore case"},
    {"a<u>b</u>c", "abc", "...", "unknown tags are removed and style nothing"},
    {"plain text", "plain text", "..........", "no tag: unchanged, unstyled"},
    {"<b>x<i>y</b>z</i>", "xyz", "BXI", "a later tag keeps what earlier tags set"},
    {"<i>it</i> <b class=\"x\">bo</b>", "it bo", "II.BB", "the name ends at the first space"},
    {"a < b", "a < b", ".....", "a \"<\" without \">\" is shown as it stands"},
    {"<b>x</b> if a<b", "x if a<b", "B.......", "an unclosed \"<\" after styled text stays too"},
    {"<b>", "", "", "a tag at the very end styles nothing"},
};

}  // namespace bm::test
