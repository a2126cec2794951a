// Styled text without a toolkit: the About window's credits mark-up and the Markdown of the help
// and release notes, as runs of text that share one style. The Qt window styles its credits
// field from them; the Win32 window fills its rich edit fields with them.
#pragma once

#include <string>
#include <vector>

namespace bm {

struct StyledRun {
  std::string text;
  bool bold = false;
  bool italic = false;
  double points = 0;  // 0: the field's own size
  bool operator==(const StyledRun&) const = default;
};

// The credits mark-up: <b> </b> <i> </i> <font size="N"> </font>. Each tag is removed and styles
// everything after it; tag names ignore letter case, an unknown tag is only removed, and
// </font> goes back to the size before the latest <font>. A "<" with no ">" after it has no
// meaning: it and the rest of the text stand as they are. Not `styled`: the text as it stands.
std::vector<StyledRun> CreditsRuns(const std::string& text, bool styled = true);

// The Markdown our help texts use: "#" and "##" headings, paragraphs whose lines join, "*"
// and "1." list items (a continued line joins its item), **bold**, *italic* and `code` (shown
// plain). Paragraphs and items end in "\n", with an empty line after each paragraph, heading and
// list.
std::vector<StyledRun> MarkdownRuns(const std::string& markdown);

// The runs' text without their styles.
std::string PlainText(const std::vector<StyledRun>& runs);

}  // namespace bm
