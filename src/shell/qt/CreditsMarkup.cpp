#include "shell/qt/CreditsMarkup.h"

#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>

#include "shell/core/StyledText.h"
#include "shell/qt/Text.h"

namespace bm::qt {

void SetStyledText(QTextEdit* field, const QString& text, bool styled) {
  field->clear();
  QTextCursor cursor(field->document());
  // The mark-up is read without a toolkit (shell/core/StyledText.h); here each run gets its style.
  for (const StyledRun& run : CreditsRuns(text.toStdString(), styled)) {
    QTextCharFormat format;
    format.setFontWeight(run.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(run.italic);
    if (run.points > 0) format.setFontPointSize(run.points);  // else the field's own size
    cursor.insertText(ToQString(run.text), format);
  }
  QTextCursor top(field->document());
  field->setTextCursor(top);
  field->verticalScrollBar()->setValue(0);
}

}  // namespace bm::qt
