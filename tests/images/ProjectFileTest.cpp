#include <gtest/gtest.h>

#include "ImagesFixture.h"
#include "base/HexText.h"
#include "base/RuntimeExceptionPlus.h"
#include "images/ProjectFile.h"
#include "support/Inside.h"

namespace bm {
namespace {

using test::MainFixture;
using test::ScratchDir;

const std::string kHex = ":0100000042BD\n:00000001FF\n";    // image end 1
const std::string kEep = ":020000001122CB\n:00000001FF\n";  // image end 2

TEST(ProjectFile, Val) {
  const std::pair<const char*, int32_t> cases[] = {
      {"31", 31},
      {"&h1F", 31},
      {"&H1f", 31},
      {"  57600", 57600},
      {"  &h1F", 31},
      {"5 ", 5},
      {"12abc", 12},
      {"&h1G", 1},
      {"", 0},
      {"abc", 0},
      {"-5", -5},
      {"&hFFFFFFFF", -1},
      {"$1F", 0},
      {"99999999999", INT32_MAX},
      {"-99999999999", INT32_MIN},
  };
  for (auto [text, value] : cases) EXPECT_EQ(ProjectFile::Val(text), value) << '"' << text << '"';
  EXPECT_EQ(ProjectFile::ValueText("DeviceID=$1F"), "&h1F");
  EXPECT_EQ(ProjectFile::ValueText("CPUname= AT mega =x"), " AT mega ") << "blanks kept, up to the next '='";
  EXPECT_EQ(ProjectFile::ValueText("DeviceID"), "");
  EXPECT_EQ(HexNumber(0x1E950F), "1E950F");
  EXPECT_EQ(HexNumber(-1), "FFFFFFFF");
}

struct Case {
  const char* why;
  std::string project;
  int32_t orgId;
  std::string deviceIdText, cpu;
  int32_t bootId, eepEnd;
  int baud;
};

TEST(ProjectFile, KeysDefaultsAndMatching) {
  const Case cases[] = {
      {"every key, '$' for hex",
       "[Project]\nDeviceID=$1E950F\nCPUname=ATmega328P\nBootLoaderID=$0101\n"
       "EEpromMax=1024\nBaudRate=19200\n",
       0x1E950F, "1E950F", "ATmega328P", 0x0101, 1024, 19200},
      {"decimal gives the same", "DeviceID=31\n", 31, "1F", "---", 0, 0, 57600},
      {"no keys: the defaults", "; nothing here\n", 1, "1", "---", 0, 0, 57600},
      {"keys in any case; the first matching line wins", "deviceid=7\nDeviceID=9\n", 7, "7", "---", 0, 0,
       57600},
      {"prefix match: a blank before '='", "DeviceID = 5\n", 5, "5", "---", 0, 0, 57600},
      {"prefix match: a longer key", "DeviceIDs=6\nCPUname=\n", 6, "6", "", 0, 0, 57600},
      {"a present but empty value is 0, not the default", "DeviceID=\nEEpromMax=\n", 0, "0", "---", 0, 0,
       57600},
      {"CRLF lines", "DeviceID=$1F\r\nCPUname=ATmega128\r\n", 31, "1F", "ATmega128", 0, 0, 57600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchDir dir;
    MainFixture f;
    dir.Write("Board.hex", kHex);
    dir.Write("Board.eep", kEep);
    f.Load(dir.Write("Board.ppro", c.project));
    EXPECT_EQ(test::Inside(f.presenter).g.OrgID, c.orgId);
    EXPECT_EQ(f.display.Text(Caption::SourceDevIDcapt), c.deviceIdText);
    EXPECT_EQ(f.display.Text(Caption::CPUnameCapt), c.cpu);
    EXPECT_EQ(test::Inside(f.presenter).g.OrgBootID, c.bootId);
    EXPECT_EQ(test::Inside(f.presenter).g.OrgEEpEnd, c.eepEnd);
    EXPECT_EQ(test::Inside(f.presenter).ComPort.BaudRate(), c.baud);
    EXPECT_EQ(test::Inside(f.presenter).g.FBytesRead, 1);
    EXPECT_EQ(test::Inside(f.presenter).g.EBytesRead, 2);
    EXPECT_EQ(f.display.title, "Brindlemark [Board.ppro]");
    EXPECT_TRUE(f.dialogs.messages.empty());
  }
}

// WaitAfterOpen= gives the wait before the first "?"; whether the project named its rate decides
// whether a default rate from outside (BRINDLEMARK_BAUD) may replace it.
TEST(ProjectFile, WaitAfterOpenAndWhetherTheRateIsNamed) {
  const struct {
    const char* project;
    int waitMs;
    bool namesRate;
  } cases[] = {
      {"DeviceID=$1E950F\nWaitAfterOpen=300\nBaudRate=19200\n", 300, true},
      {"DeviceID=$1E950F\n", 0, false},
      {"DeviceID=$1E950F\nWaitAfterOpen=-5\nBaudRate=\n", 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.project);
    ScratchDir dir;
    MainFixture f;
    dir.Write("Board.hex", kHex);
    dir.Write("Board.eep", kEep);
    f.Load(dir.Write("Board.ppro", c.project));
    EXPECT_EQ(f.presenter.engine().WaitAfterOpen(), c.waitMs);
    EXPECT_EQ(f.presenter.LastLoad().fileNamesRate, c.namesRate);
  }
}

// A project in a folder whose name is not ASCII, under a name that is not either: its images are
// found beside it (on Windows the names become UTF-16 paths in one place).
TEST(ProjectFile, NamesThatAreNotAsciiLoad) {
  ScratchDir dir;
  MainFixture f;
  dir.Write("J\u00fcrgen/Pl\u00e4ne.hex", kHex);
  dir.Write("J\u00fcrgen/Pl\u00e4ne.eep", kEep);
  f.Load(dir.Write("J\u00fcrgen/Pl\u00e4ne.ppro", "DeviceID=$1E950F\n"));
  EXPECT_TRUE(f.dialogs.messages.empty()) << f.dialogs.messages.front();
  EXPECT_EQ(test::Inside(f.presenter).g.FBytesRead, 1);
  EXPECT_EQ(test::Inside(f.presenter).g.EBytesRead, 2);
  EXPECT_EQ(f.display.title, "Brindlemark [Pl\u00e4ne.ppro]");
}

// A serial service that takes every rate but 1200.
class NoSlowRates : public SerialService {
 public:
  int Count() override { return 0; }
  std::string PortName(int) override { return {}; }
  std::string Description(int) override { return {}; }
  std::unique_ptr<SerialPort> Bind(int) override { return nullptr; }
  bool UsableBaudRate(int baud) override { return baud != 1200; }
};

TEST(ProjectFile, ARateNoPortCanUseIsReportedAtLoadAndTheRateStays) {
  const struct {
    const char* value;
    int baud;
    const char* message;
  } cases[] = {
      {"115200", 115200, nullptr},
      {"250000", 250000, nullptr},
      {"0", 19200, "The project's BaudRate 0 is not a usable rate; the rate stays at 19200."},
      {"-9600", 19200, "The project's BaudRate -9600 is not a usable rate; the rate stays at 19200."},
      {"fast", 19200, "The project's BaudRate \"fast\" is not a usable rate; the rate stays at 19200."},
      {"1200", 19200, "The project's BaudRate 1200 is not a usable rate; the rate stays at 19200."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    ScratchDir dir;
    MainFixture f;
    f.ports.Add(std::make_unique<NoSlowRates>());
    test::Inside(f.presenter).ComPort.SetBaudRate(19200);
    dir.Write("Board.hex", kHex);
    dir.Write("Board.eep", kEep);
    f.Load(dir.Write("Board.ppro", std::string("BaudRate=") + c.value + "\n"));
    EXPECT_EQ(test::Inside(f.presenter).ComPort.BaudRate(), c.baud);
    EXPECT_EQ(f.dialogs.messages,
              c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
    EXPECT_EQ(f.presenter.ModeNumber(), 1) << "the images are loaded all the same";
  }
}

TEST(ProjectFile, ImageNamesFollowTheProject) {
  {
    SCOPED_TRACE("upper-case .PPRO loads the lower-case image names beside it");
    ScratchDir dir;
    MainFixture f;
    dir.Write("Board.hex", kHex);
    dir.Write("Board.eep", kEep);
    f.Load(dir.Write("Board.PPRO", "DeviceID=1\n"));
    EXPECT_EQ(test::Inside(f.presenter).g.FBytesRead, 1);
    EXPECT_EQ(test::Inside(f.presenter).g.EBytesRead, 2);
    EXPECT_EQ(test::Inside(f.presenter).g.f->filename(), "Board.eep")
        << "each reader re-points the current file";
  }
  {
    SCOPED_TRACE("a missing .eep: the flash image loads alone");
    ScratchDir dir;
    MainFixture f;
    dir.Write("Board.hex", kHex);
    f.Load(dir.Write("Board.ppro", ""));
    EXPECT_EQ(f.dialogs.messages,
              std::vector<std::string>{"Open failed (in class: UHexLoad)\n (file: Board.eep)"});
    EXPECT_EQ(f.presenter.ModeNumber(), 1);
    EXPECT_EQ(f.display.Text(Caption::EEpSizeCapt), "0 Bytes");
  }
  {
    SCOPED_TRACE("a folder named *.hex: the EEPROM name comes from its first '.hex'");
    ScratchDir dir;
    MainFixture f;
    dir.Write("v1.hex.d/Board.hex", kHex);
    dir.Write("v1.hex.d/Board.eep", kEep);
    f.Load(dir.Write("v1.hex.d/Board.ppro", ""));
    EXPECT_EQ(test::Inside(f.presenter).g.FBytesRead, 1);
    EXPECT_EQ(test::Inside(f.presenter).g.EBytesRead, 0);
    ASSERT_EQ(f.dialogs.messages.size(), 1u);
    EXPECT_EQ(f.dialogs.messages[0].rfind("Open failed (in class: UHexLoad)", 0), 0u);
  }
}

TEST(ProjectFile, AProjectThatCannotBeReadIsARunTimeError) {
  ScratchDir dir;
  test::ScriptedEventLoop loop;
  LineBuffer st;
  EXPECT_THROW(ProjectFile::ReadProject(dir.Path("gone.ppro"), st, loop), RuntimeError);
}

}  // namespace
}  // namespace bm
