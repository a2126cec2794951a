#include "platform/qt/QtDialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace bm::qt {

void QtDialogs::MessageBox(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QString(), QString::fromStdString(text), QMessageBox::Ok, parent_);
  box.exec();
}

std::optional<std::string> QtDialogs::OpenFile(const std::vector<FileKind>& kinds) {
  const QString path =
      QFileDialog::getOpenFileName(parent_, QString(), QString(), QString::fromStdString(Filter(kinds)));
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

std::string QtDialogs::Filter(const std::vector<FileKind>& kinds) {
  std::string names, patterns;
  for (const FileKind& kind : kinds) {
    if (!names.empty()) names += ", ";
    names += kind.name;
    for (const std::string& ext : kind.extensions) {
      if (!patterns.empty()) patterns += ' ';
      patterns += "*." + ext;
    }
  }
  return names + " (" + patterns + ")";
}

}  // namespace bm::qt
