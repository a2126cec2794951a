// The program's own texts for the Help menu and the About window.
#pragma once

#include <QString>
#include <string>

namespace bm::qt {

QString HelpContentsText();  // Markdown: how to use the program
QString ReleaseNotesText();  // Markdown: what this version brings
std::string NoUpdateCheckText();
QString CreditsText();  // in the credits mark-up (b, i, font size)
QString AboutNoticeText();

}  // namespace bm::qt
