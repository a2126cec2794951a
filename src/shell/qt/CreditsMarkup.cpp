#include "shell/qt/CreditsMarkup.h"

#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>

namespace bm::qt {
namespace {

// The size of the character at `position`, or of the one before it at the end of the text.
double SizeAt(QTextEdit* field, int position) {
  QTextCursor cursor(field->document());
  const int end = field->document()->characterCount() - 1;
  cursor.setPosition(std::min(position + 1, std::max(end, 0)));
  const double size = cursor.charFormat().fontPointSize();
  return size > 0 ? size : field->document()->defaultFont().pointSizeF();
}

// The number between the tag's first two double quotes, or 0 when there is none.
double QuotedNumber(const QString& tag) {
  const qsizetype open = tag.indexOf(u'"');
  if (open < 0) return 0;
  const qsizetype close = tag.indexOf(u'"', open + 1);
  if (close < 0) return 0;
  return tag.mid(open + 1, close - open - 1).trimmed().toDouble();
}

}  // namespace

void SetStyledText(QTextEdit* field, const QString& text, bool styled) {
  field->setPlainText(text);
  if (styled) {
    double remembered = field->document()->defaultFont().pointSizeF();
    for (;;) {
      const QString t = field->toPlainText();
      const qsizetype p = t.indexOf(u'<');
      if (p < 0) break;
      const qsizetype q = t.indexOf(u'>', p);
      if (q < 0) break;  // no closing ">": the rest stays as it stands
      const QString tag = t.mid(p + 1, q - p - 1);
      const QString name = tag.section(u' ', 0, 0).toLower();

      QTextCursor cursor(field->document());
      cursor.setPosition(static_cast<int>(p));
      cursor.setPosition(static_cast<int>(q + 1), QTextCursor::KeepAnchor);
      cursor.removeSelectedText();
      cursor.setPosition(static_cast<int>(p));
      cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);

      QTextCharFormat format;
      if (name == QLatin1String("b") || name == QLatin1String("/b")) {
        format.setFontWeight(name == QLatin1String("b") ? QFont::Bold : QFont::Normal);
      } else if (name == QLatin1String("i") || name == QLatin1String("/i")) {
        format.setFontItalic(name == QLatin1String("i"));
      } else if (name == QLatin1String("font")) {
        remembered = SizeAt(field, static_cast<int>(p));
        const double size = QuotedNumber(tag);
        if (size > 0) format.setFontPointSize(size);  // a size that is no number styles nothing
      } else if (name == QLatin1String("/font")) {
        if (remembered > 0) format.setFontPointSize(remembered);
      } else {
        continue;  // unknown tag: removed, no style
      }
      if (cursor.hasSelection()) cursor.mergeCharFormat(format);
    }
  }
  QTextCursor top(field->document());
  field->setTextCursor(top);
  field->verticalScrollBar()->setValue(0);
}

}  // namespace bm::qt
