// The small mark-up of the About window's credits: <b> </b> <i> </i> <font size="N"> </font>.
//
// Each tag is removed and styles everything after it, so a pair styles the text between. Tag
// names ignore letter case; an unknown tag is only removed. One size is remembered: </font>
// goes back to the size before the latest <font>. A "<" with no ">" after it has no meaning:
// it and the rest of the text are shown as they stand. The mark-up is read in shell/core
// (StyledText.h, CreditsRuns), as the Win32 window reads it.
#pragma once

#include <QString>

class QTextEdit;

namespace bm::qt {

// Puts `text` into `field`; when `styled`, interprets the mark-up. Leaves the field scrolled to
// its top with nothing selected.
void SetStyledText(QTextEdit* field, const QString& text, bool styled);

}  // namespace bm::qt
