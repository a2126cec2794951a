// Styled text without a toolkit: the credits mark-up (the Qt window's About field shows it,
// tests/shell/qt/AboutWindowTest.cpp) and the Markdown of the help texts.
#include <gtest/gtest.h>

#include "shell/core/StyledText.h"
#include "shell/core/WindowTexts.h"
#include "support/CreditsCases.h"

namespace bm {
namespace {

// One letter per byte: "." plain, "B" bold, "I" italic, "X" both.
std::string Styles(const std::vector<StyledRun>& runs) {
  std::string styles;
  for (const StyledRun& run : runs)
    styles += std::string(run.text.size(), run.bold && run.italic ? 'X'
                                           : run.bold             ? 'B'
                                           : run.italic           ? 'I'
                                                                  : '.');
  return styles;
}

TEST(CreditsRuns, StylesCharacterByCharacter) {
  for (const test::CreditsCase& c : test::kCreditsCases) {
    SCOPED_TRACE(c.why);
    const std::vector<StyledRun> runs = CreditsRuns(c.input);
    EXPECT_EQ(PlainText(runs), c.shown);
    EXPECT_EQ(Styles(runs), c.styles);
  }
}

TEST(CreditsRuns, FontSpanSetsItsSizeAndGoesBackToTheOneBefore) {
  const std::vector<StyledRun> runs = CreditsRuns(
      "<font size=\"9\">x</font>y<font size=\"10\">z<font size=\"7\">w</font>v<font size=\"big\">u");
  std::vector<double> sizes;
  for (const StyledRun& run : runs)
    for (size_t i = 0; i < run.text.size(); ++i) sizes.push_back(run.points);
  // 0 is the field's own size. Nested spans go back to the size before the innermost one: v is
  // 10, not the field's; a size that is no number styles nothing.
  EXPECT_EQ(PlainText(runs), "xyzwvu");
  EXPECT_EQ(sizes, (std::vector<double>{9, 0, 10, 7, 10, 10}));
}

TEST(CreditsRuns, UnstyledTextKeepsItsTags) {
  EXPECT_EQ(CreditsRuns("a<b>b</b>c", false), (std::vector<StyledRun>{{"a<b>b</b>c"}}));
}

TEST(CreditsRuns, TheAboutWindowsCreditsReadWithoutTags) {
  const std::string text = PlainText(CreditsRuns(CreditsText()));
  EXPECT_EQ(text.rfind("Engineering:", 0), 0u);
  EXPECT_EQ(text.find('<'), std::string::npos);
  EXPECT_NE(text.find("without warranty"), std::string::npos);
}

TEST(MarkdownRuns, BlocksAndInlineStyles) {
  struct Case {
    const char* markdown;
    const char* shown;
    std::string styles;  // empty: not checked
    const char* why;
  };
  const std::string dots(40, '.');
  const Case cases[] = {
      {"# Title\n\nSome text\nwrapped here.\n", "Title\n\nSome text wrapped here.\n\n",
       "BBBBB" + dots.substr(0, 27), "a heading bold; a paragraph's lines join"},
      {"1. **Load** a file.\n2. Then\n   more.\n", "1. Load a file.\n2. Then more.\n\n",
       "...BBBB" + dots.substr(0, 24), "numbered items keep their number; a continued line joins its item"},
      {"* red: `x`\n* *File > Parameter* shows\n\nAfter.\n",
       "\xE2\x80\xA2 red: x\n\xE2\x80\xA2 File > Parameter shows\n\nAfter.\n\n", "",
       "bullets; code shown plain; the list ends with an empty line"},
      {"a *b* c, 2 * 3\n", "a b c, 2 * 3\n\n", "..I" + dots.substr(0, 11),
       "a star before a letter starts italic, one before a space is a star"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const std::vector<StyledRun> runs = MarkdownRuns(c.markdown);
    EXPECT_EQ(PlainText(runs), c.shown);
    if (!c.styles.empty()) {
      EXPECT_EQ(Styles(runs), c.styles);
    }
  }
  const std::vector<StyledRun> heading = MarkdownRuns("# Big\n## Small\n");
  ASSERT_GE(heading.size(), 3u);
  EXPECT_EQ(heading[0].points, 14);
  EXPECT_EQ(heading[2].points, 11);
}

TEST(MarkdownRuns, TheHelpTextsShowNoMarkup) {
  for (const std::string& markdown : {HelpContentsText(), ReleaseNotesText()}) {
    const std::string text = PlainText(MarkdownRuns(markdown));
    EXPECT_EQ(text.find("**"), std::string::npos);
    EXPECT_EQ(text.find('`'), std::string::npos);
    EXPECT_EQ(text.find("\n#"), std::string::npos);
    EXPECT_EQ(text.find("\n\n\n"), std::string::npos) << "one empty line between blocks";
  }
  EXPECT_NE(PlainText(MarkdownRuns(HelpContentsText())).find("\xE2\x80\xA2 red alone: nothing loaded\n"),
            std::string::npos);
}

}  // namespace
}  // namespace bm
