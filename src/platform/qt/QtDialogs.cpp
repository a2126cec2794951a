#include "platform/qt/QtDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <algorithm>
#include <cctype>

namespace bm::qt {

void QtDialogs::MessageBox(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QString(), QString::fromStdString(text), QMessageBox::Ok, parent_);
  box.exec();
}

void QtDialogs::MessageBoxWithInfo(const std::string& text, const std::string& information) {
  QMessageBox box(QMessageBox::NoIcon, QString(), QString::fromStdString(text), QMessageBox::Ok, parent_);
  box.setInformativeText(QString::fromStdString(information));
  box.exec();
}

std::optional<std::string> QtDialogs::OpenFile(const std::vector<FileKind>& kinds) {
  const QString path = QFileDialog::getOpenFileName(parent_, QString(), QString::fromStdString(startFolder_),
                                                    QString::fromStdString(Filter(kinds)));
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

namespace {

// What the dialog calls a kind, in plain words.
std::string PlainName(const FileKind& kind) {
  return kind.description.empty() ? kind.name : kind.description;
}

// "*.hex *.pac": each extension once, in lower case (the dialog matches either case).
std::string Patterns(const FileKind& kind) {
  std::string patterns;
  std::vector<std::string> seen;
  for (std::string ext : kind.extensions) {
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (std::find(seen.begin(), seen.end(), ext) != seen.end()) continue;
    seen.push_back(ext);
    if (!patterns.empty()) patterns += ' ';
    patterns += "*." + ext;
  }
  return patterns;
}

}  // namespace

std::string QtDialogs::Filter(const std::vector<FileKind>& kinds) {
  std::string all, each;
  for (const FileKind& kind : kinds) {
    const std::string patterns = Patterns(kind);
    all += (all.empty() ? "" : " ") + patterns;
    each += ";;" + PlainName(kind) + " (" + patterns + ")";
  }
  return "All supported files (" + all + ")" + each + ";;All files (*)";
}

}  // namespace bm::qt
