// A file rebuilt on disk between two downloads: the second download writes the new image, or,
// when the new file no longer fits the connection, nothing at all.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "link/TargetBench.h"
#include "shell/core/FileStamp.h"
#include "support/Inside.h"

namespace bm {
namespace {

using test::TargetBench;

// One data record of `bytes` at address 0, and the end record.
std::string Hex(const std::vector<uint8_t>& bytes) {
  char line[80];
  uint8_t sum = static_cast<uint8_t>(bytes.size());
  std::string text =
      ":" + std::string(line, std::snprintf(line, sizeof line, "%02X0000", static_cast<int>(bytes.size())));
  text += "00";
  for (uint8_t b : bytes) {
    std::snprintf(line, sizeof line, "%02X", b);
    text += line;
    sum = static_cast<uint8_t>(sum + b);
  }
  std::snprintf(line, sizeof line, "%02X\n", static_cast<uint8_t>(-sum));
  return text + line + ":00000001FF\n";
}

struct Project {
  Project() {
    dir = std::filesystem::temp_directory_path() / ("bm-reload-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  ~Project() { std::filesystem::remove_all(dir); }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir / name, std::ios::binary | std::ios::trunc) << text;
    // A rebuild within the file system's time resolution must still count: the content decides.
  }
  std::filesystem::path dir;
};

const std::vector<uint8_t> kOld{1, 2, 3, 4, 5, 6, 7, 8}, kNew{9, 8, 7, 6, 5, 4, 3, 2};

struct Rig {
  Rig() {
    project.Write("board.ppro", "DeviceID=$1E950F\nBootLoaderID=$0101\nBaudRate=57600\n");
    project.Write("board.hex", Hex(kOld));
    b.dialogs.answer = (project.dir / "board.ppro").string();
    b.presenter.FOpenBtn_Action();
    EXPECT_TRUE(b.presenter.LastLoad().loaded);
    EXPECT_TRUE(b.Connect());
    b.dialogs.messages.clear();  // the missing .eep's report
  }
  std::vector<uint8_t> Flash(size_t n) {
    return {b.target().Flash().begin(), b.target().Flash().begin() + n};
  }
  Project project;
  TargetBench b;
};

TEST(Reload, ARebuiltFileIsReadAgainBeforeTheNextDownload) {
  Rig r;
  r.b.presenter.DownLdBtn_Action();
  ASSERT_EQ(r.Flash(8), kOld);

  r.project.Write("board.hex", Hex(kNew));
  r.project.Write("board.eep", Hex({0x42}));  // missing at the load: it counts as read too
  r.b.presenter.DownLdBtn_Action();
  EXPECT_EQ(r.Flash(8), kNew) << "the target holds the image now on disk";
  EXPECT_EQ(r.b.target().Eeprom()[0], 0xFF) << "the user's check boxes stay: the EEPROM box was clear";
  EXPECT_TRUE(r.b.presenter.LastRun().result.Clean());
  EXPECT_TRUE(r.b.dialogs.messages.empty());
  EXPECT_EQ(r.b.presenter.ModeNumber(), 2) << "still connected";

  r.b.Mark();
  r.b.presenter.DownLdBtn_Action();  // nothing changed since: no second reading, same image
  EXPECT_EQ(r.Flash(8), kNew);
}

TEST(Reload, AFileThatNoLongerFitsTheConnectionStopsBeforeWriting) {
  const struct {
    std::string file, text, message;
    std::string sent;  // a file that no longer loads releases the loader, as loading it would
  } cases[] = {
      {"board.ppro", "DeviceID=$1E9587\nBootLoaderID=$0101\nBaudRate=57600\n",
       "board.ppro changed on disk and the file now expects the device ID 1E9587 instead of 1E950F: nothing "
       "was written.",
       ""},
      {"board.ppro", "DeviceID=$1E950F\nBootLoaderID=$0101\nBaudRate=19200\n",
       "board.ppro changed on disk and the file now expects the BaudRate 19200 instead of 57600: nothing was "
       "written.",
       ""},
      {"board.hex", ":0100000042BC\n:00000001FF\n",
       "board.hex changed on disk and it no longer loads: nothing was written.", "X"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Rig r;
    r.project.Write(c.file, c.text);
    const std::vector<uint8_t> before = r.b.target().Flash();
    r.b.Mark();
    r.b.presenter.DownLdBtn_Action();
    EXPECT_EQ(r.b.Sent(), c.sent) << "nothing was written";
    EXPECT_EQ(r.b.target().Flash(), before);
    ASSERT_FALSE(r.b.dialogs.messages.empty());
    EXPECT_EQ(r.b.dialogs.messages.back(), c.message);
    EXPECT_EQ(r.b.presenter.LastRun().start, RunStart::FileChanged);
  }
}

// Read again before a run, a file is held to more than Load holds it to: one whose reading shows
// any message (a .hex cut short, a .hex gone beside its .eep), or whose image is shorter than the
// one loaded, writes nothing and says why. One that showed a message no longer counts as loaded
// (mode 0, the loader released): Load it again on purpose to program what it holds.
TEST(Reload, AFileThatNowReadsBadlyOrShorterWritesNothing) {
  std::string cut = Hex(kNew);
  cut.resize(cut.find(":00000001FF"));  // the end record is gone
  const struct {
    const char* why;
    std::optional<std::string> hex;  // the .hex as it is now; none: deleted
    std::string message;
    int mode;
  } cases[] = {
      {"cut short", cut,
       "board.hex changed on disk and reading it again showed a message: nothing was written.", 0},
      {"deleted", std::nullopt,
       "board.hex changed on disk and reading it again showed a message: nothing was written.", 0},
      {"shorter", Hex({9, 8, 7, 6}),
       "board.hex changed on disk and its flash image is shorter than the one loaded (4 instead of 8 bytes): "
       "nothing was written.",
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Project project;
    project.Write("board.ppro", "DeviceID=$1E950F\nBootLoaderID=$0101\nBaudRate=57600\n");
    project.Write("board.hex", Hex(kOld));
    project.Write("board.eep", Hex({0x42}));
    TargetBench b;
    b.dialogs.answer = (project.dir / "board.ppro").string();
    b.presenter.FOpenBtn_Action();
    ASSERT_TRUE(b.Connect());
    if (c.hex)
      project.Write("board.hex", *c.hex);
    else
      std::filesystem::remove(project.dir / "board.hex");
    const std::vector<uint8_t> flash = b.target().Flash(), eeprom = b.target().Eeprom();
    b.dialogs.messages.clear();
    b.presenter.DownLdBtn_Action();
    EXPECT_EQ(b.target().Flash(), flash) << "no page written";
    EXPECT_EQ(b.target().Eeprom(), eeprom) << "nor the EEPROM";
    ASSERT_FALSE(b.dialogs.messages.empty());
    EXPECT_EQ(b.dialogs.messages.back(), c.message);
    EXPECT_EQ(b.presenter.LastRun().start, RunStart::FileChanged);
    EXPECT_EQ(b.presenter.ModeNumber(), c.mode);
  }
}

// The file is stamped as the readers read it: one rebuilt while the load was still busy with it
// (after the reader took its bytes) counts as changed, and the download writes what is on disk.
TEST(Reload, AFileRebuiltWhileTheLoadReadItCountsAsChanged) {
  Project project;
  project.Write("board.ppro", "DeviceID=$1E950F\nBootLoaderID=$0101\nBaudRate=57600\n");
  project.Write("board.hex", Hex(kOld));
  TargetBench b;
  // The HEX reader has taken the file's bytes once its lines are in the line buffer.
  const LineBuffer& lines = test::Inside(b.presenter).g.st;
  b.loop.When([&] { return lines.size() > 0 && (*lines.begin()).starts_with(":"); },
              [&] { project.Write("board.hex", Hex(kNew)); });
  b.dialogs.answer = (project.dir / "board.ppro").string();
  b.presenter.FOpenBtn_Action();
  ASSERT_TRUE(b.presenter.LastLoad().loaded);
  ASSERT_TRUE(b.Connect());
  b.presenter.DownLdBtn_Action();
  EXPECT_EQ(std::vector<uint8_t>(b.target().Flash().begin(), b.target().Flash().begin() + 8), kNew);
}

// What counts as a change: other bytes (even of the same length), another length, or only a new
// modification time; the same file as stamped does not.
TEST(Reload, AStampTellsEveryKindOfChange) {
  Project project;
  const std::filesystem::path file = project.dir / "board.hex";
  const struct {
    std::string text;  // written over the file (empty: left as it is)
    bool touch;        // its modification time moves on by an hour; else it stays as stamped
    bool changed;
    const char* why;
  } cases[] = {
      {"", false, false, "untouched"},
      {Hex(kNew), false, true, "other bytes, same length, same time"},
      {Hex({1}), false, true, "shorter"},
      {"", true, true, "touched: the same bytes, a new time"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    project.Write("board.hex", Hex(kOld));
    const auto written = std::filesystem::last_write_time(file);
    const std::vector<FileStamp> stamps{StampOf(file)};
    if (!c.text.empty()) project.Write("board.hex", c.text);
    std::filesystem::last_write_time(file, c.touch ? written + std::chrono::hours(1) : written);
    EXPECT_EQ(FirstChanged(stamps) != nullptr, c.changed);
  }
}

}  // namespace
}  // namespace bm
