// The About window: the credits mark-up, character by character, and its two layouts.
#include <gtest/gtest.h>

#include <QLabel>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>

#include "shell/qt/AboutWindow.h"
#include "shell/qt/CreditsMarkup.h"
#include "support/CreditsCases.h"

namespace bm {
namespace {

// One letter per character: "." plain, "B" bold, "I" italic, "X" both; sizes listed apart.
std::string Styles(QTextEdit& field) {
  std::string styles;
  QTextCursor cursor(field.document());
  const QString text = field.toPlainText();
  for (int i = 0; i < text.size(); ++i) {
    cursor.setPosition(i + 1);  // the format of the character before the cursor
    const QTextCharFormat f = cursor.charFormat();
    const bool bold = f.fontWeight() >= QFont::Bold, italic = f.fontItalic();
    styles += bold && italic ? 'X' : bold ? 'B' : italic ? 'I' : '.';
  }
  return styles;
}

std::vector<double> Sizes(QTextEdit& field) {
  std::vector<double> sizes;
  QTextCursor cursor(field.document());
  for (int i = 0; i < field.toPlainText().size(); ++i) {
    cursor.setPosition(i + 1);
    const double size = cursor.charFormat().fontPointSize();
    sizes.push_back(size > 0 ? size : field.document()->defaultFont().pointSizeF());
  }
  return sizes;
}

TEST(CreditsMarkup, StylesCharacterByCharacter) {
  for (const test::CreditsCase& c : test::kCreditsCases) {
    SCOPED_TRACE(c.why);
    QTextEdit field;
    qt::SetStyledText(&field, QString::fromUtf8(c.input), true);
    EXPECT_EQ(field.toPlainText().toStdString(), c.shown);
    EXPECT_EQ(Styles(field), c.styles);
  }
}

TEST(CreditsMarkup, FontSpanSetsItsSizeAndGoesBackToTheOneBefore) {
  QTextEdit field;
  QFont font = field.font();
  font.setPointSizeF(12);
  field.setFont(font);
  qt::SetStyledText(&field,
                    QStringLiteral("<font size=\"9\">x</font>y<font size=\"10\">z<font size=\"7\">w</font>v"),
                    true);
  EXPECT_EQ(field.toPlainText(), "xyzwv");
  // Nested spans restore to the size before the innermost one: v is 10, not 12.
  EXPECT_EQ(Sizes(field), (std::vector<double>{9, 12, 10, 7, 10}));
}

TEST(CreditsMarkup, UnstyledTextKeepsItsTags) {
  QTextEdit field;
  qt::SetStyledText(&field, QStringLiteral("a<b>b</b>c"), false);
  EXPECT_EQ(field.toPlainText(), "a<b>b</b>c");
  EXPECT_EQ(Styles(field), "..........");
}

TEST(AboutWindow, TwoLayoutsByUseCredits) {
  QWidget owner;
  qt::AboutWindow about(&owner);
  about.Show(true);
  EXPECT_EQ(about.size(), QSize(284, 326));
  EXPECT_TRUE(about.EditAppCredits()->isVisible());
  EXPECT_EQ(about.StatAppNotice()->y(), 280);
  EXPECT_EQ(about.EditAppCredits()->verticalScrollBar()->value(), 0);
  EXPECT_FALSE(about.EditAppCredits()->textCursor().hasSelection());
  EXPECT_TRUE(about.EditAppCredits()->toPlainText().startsWith("Engineering:"));
  EXPECT_EQ(about.StatAppName()->text(), "Quorvex Tarnwick");
  EXPECT_EQ(about.StatAppVersion()->text(), "Version 1.0 (v043)");
  // Untitled, without the application's name that an empty title would bring.
  EXPECT_EQ(about.windowTitle(), QStringLiteral(" "));

  about.Show(false);
  EXPECT_EQ(about.size(), QSize(284, 178));
  EXPECT_FALSE(about.EditAppCredits()->isVisible());
  EXPECT_EQ(about.StatAppNotice()->y(), 132);
  EXPECT_LE(about.StatAppNotice()->geometry().bottom(), 178) << "the notice fits the short layout";
}

TEST(AboutWindow, ControlsAtTheirPositionsAndTextsUnclipped) {
  QWidget owner;
  qt::AboutWindow about(&owner);
  about.Show(true);
  EXPECT_EQ(about.AppIconCanvas()->geometry(), QRect(110, 8, 64, 64));
  EXPECT_EQ(about.EditAppCredits()->geometry(), QRect(0, 132, 284, 140));
  for (QLabel* label : {about.StatAppName(), about.StatAppVersion(), about.StatAppNotice()}) {
    SCOPED_TRACE(label->objectName().toStdString());
    EXPECT_EQ(label->x(), 20);
    EXPECT_EQ(label->width(), 244);
    EXPECT_GE(label->height(),
              label->heightForWidth(244) > 0 ? label->heightForWidth(244) : label->sizeHint().height())
        << "the text fits its label";
  }
  EXPECT_EQ(about.StatAppName()->y(), 86);
  EXPECT_TRUE(about.StatAppName()->font().bold());
  EXPECT_EQ(about.StatAppVersion()->y(), 112);
}

TEST(AboutWindow, SelectAllSelectsTheWholeCredits) {
  QWidget owner;
  qt::AboutWindow about(&owner);
  about.Show(true);
  EXPECT_FALSE(about.EditAppCredits()->EditSelectAll());
  const QTextCursor cursor = about.EditAppCredits()->textCursor();
  EXPECT_EQ(cursor.selectionStart(), 0);
  EXPECT_EQ(cursor.selectedText().size(), about.EditAppCredits()->toPlainText().size());
}

}  // namespace
}  // namespace bm
