// The window's production record (`brindlemark --record DB`): a Download through the real window
// with the simulated board gets its row, complete, in the record the command line keeps; and the
// window looks, after it, exactly as it does without a record.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QMenuBar>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "WindowFiles.h"
#include "WindowRig.h"
#include "app/desktop/DesktopRecord.h"
#include "base/Sha256.h"
#include "records/RecordStore.h"

namespace bm {
namespace {

using namespace test::window;
using test::WindowRig;

// What a person sees: every widget and menu entry, whether it shows and can be used, its text.
QStringList Face(const WindowRig& rig) {
  QStringList face{rig.window.windowTitle()};
  for (const QWidget* w : rig.window.findChildren<QWidget*>()) {
    QString text;
    if (const auto* label = qobject_cast<const QLabel*>(w)) text = label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(w))
      text = button->text() + (button->isChecked() ? " [x]" : "");
    face << QStringLiteral("%1 %2 %3 %4 %5")
                .arg(QString::fromLatin1(w->metaObject()->className()), w->objectName(),
                     w->isVisible() ? "shown" : "hidden", w->isEnabled() ? "on" : "off", text);
  }
  for (const QAction* a : rig.window.findChildren<QAction*>())
    face << a->text() + (a->isEnabled() ? " on" : " off") + (a->isVisible() ? "" : " hidden");
  return face;
}

// The example project downloaded through the window onto the simulated board, recorded in
// `record` when given. What it said on stderr is kept.
struct Downloaded {
  explicit Downloaded(std::optional<std::string> record) {
    if (record) recording.emplace(rig.engine, rig.ports, *record);
    rig.window.show();
    testing::internal::CaptureStderr();
    rig.dialogs.answer = files.Path("blink.ppro");
    Click(rig, "FOpenBtn");
    Click(rig, "ComportBtn");
    Click(rig, "DownLdBtn");
    stderrText = testing::internal::GetCapturedStderr();
  }

  Fixtures files;
  WindowRig rig{/*withTarget=*/true};
  std::optional<app::DesktopRecord> recording;
  std::string stderrText;
};

std::string Bytes(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(WindowRecord, ADownloadGetsItsCompleteRow) {
  QTemporaryDir dir;
  const std::string record = dir.filePath(QStringLiteral("record.db")).toStdString();
  Downloaded d(record);
  ASSERT_TRUE(Text(d.rig, "status0").startsWith("Download finished and verified"))
      << Text(d.rig, "status0").toStdString();
  EXPECT_EQ(d.stderrText, "");

  const std::vector<records::Attempt> rows = records::Store::Open(record, false)->Find({});
  ASSERT_EQ(rows.size(), 1u);
  const records::Attempt& row = rows[0];
  EXPECT_EQ(row.command, "download");
  EXPECT_EQ(row.outcome, "done");
  EXPECT_EQ(row.verified, "flash and EEPROM");
  EXPECT_EQ(row.stationName, "window");
  EXPECT_FALSE(row.host.empty());
  EXPECT_EQ(row.port, "sim");
  EXPECT_EQ(row.signature, "1E950F");
  EXPECT_EQ(row.loaderIds.substr(0, 4), "257,");  // the example board's loader ID 0101 first
  EXPECT_EQ(row.file, "blink.ppro");              // the name the window shows
  std::ifstream project(d.files.Path("blink.ppro"), std::ios::binary);
  std::stringstream read;
  read << project.rdbuf();
  EXPECT_EQ(row.sha256, Sha256Hex(read.str()));
  // The flash image to the end of its last page (300 bytes: three pages of 128), and the EEPROM's.
  std::vector<uint8_t> flash = d.files.flash;
  flash.resize(384, 0xFF);
  EXPECT_EQ(row.flashSha256, Sha256Hex(Bytes(flash)));
  EXPECT_EQ(row.eepromSha256, Sha256Hex(Bytes(d.files.eeprom)));
  EXPECT_EQ(row.pagesWritten, 3);
  ASSERT_TRUE(row.seconds);
  EXPECT_GE(*row.seconds, 0);
  EXPECT_EQ(row.boardSerial, "") << "the window writes no serial numbers";
  EXPECT_FALSE(row.serialNumber);
}

// Recording or not, and a record that cannot be written (said on stderr, the board written all
// the same): the window shows the same.
TEST(WindowRecord, TheWindowLooksTheSameWithARecord) {
  QTemporaryDir dir;
  const Downloaded plain(std::nullopt);
  const Downloaded recorded(dir.filePath(QStringLiteral("record.db")).toStdString());
  const Downloaded unwritable(dir.filePath(QStringLiteral("missing/record.db")).toStdString());
  EXPECT_EQ(Face(recorded.rig), Face(plain.rig));
  EXPECT_EQ(Face(unwritable.rig), Face(plain.rig));
  EXPECT_EQ(unwritable.stderrText.rfind("brindlemark: cannot open the record '", 0), 0u)
      << unwritable.stderrText;
  EXPECT_TRUE(Text(unwritable.rig, "status0").startsWith("Download finished and verified"));
}

}  // namespace
}  // namespace bm
