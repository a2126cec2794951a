#include "platform/qt/QtDialogs.h"

#include <QFileDialog>
#include <QMessageBox>

#include "platform/FileFilter.h"

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

std::string QtDialogs::Filter(const std::vector<FileKind>& kinds) {
  std::string text;
  for (const auto& [label, patterns] : FileFilter(kinds, ' ', "*"))
    text += (text.empty() ? "" : ";;") + label;
  return text;
}

}  // namespace bm::qt
