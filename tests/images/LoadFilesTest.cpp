#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "ImagesFixture.h"
#include "app/packwriter/PackWriter.h"
#include "base/FileError.h"
#include "base/RuntimeExceptionPlus.h"
#include "base/Util.h"
#include "support/Inside.h"

namespace bm {
namespace {

using test::MainFixture;
using test::ScratchDir;

const std::string kEof = ":00000001FF\n";
// Data ending at 0x1FFF: one byte there is enough.
const std::string kHexTo1FFF = ":011FFF00AA37\n" + kEof;
const std::string kEep = ":0100100042AD\n" + kEof;

std::vector<uint8_t> BlinkPack() {
  dParamList::ParamSet p;
  p.eCPUname = "  ATmega328P ";
  p.eDeviceID = 0x1E950F;
  p.eBootID = 0x0101;
  p.eEEpromMax = 1024;
  return packwriter::Pack(p, {1, 2, 3}, {4, 5});
}

struct Expect {
  std::string title, file, flash, eeprom, deviceId, cpu;
  int modus;
  bool progFlash, progEep, paraEnable;
  int baud;
  std::vector<std::string> messages;
};

void Check(const MainFixture& f, const Expect& e) {
  EXPECT_EQ(f.display.title, e.title);
  EXPECT_EQ(f.display.Text(Caption::FNameCapt), e.file);
  EXPECT_EQ(f.display.Text(Caption::FlashSizeCapt), e.flash);
  EXPECT_EQ(f.display.Text(Caption::EEpSizeCapt), e.eeprom);
  EXPECT_EQ(f.display.Text(Caption::SourceDevIDcapt), e.deviceId);
  EXPECT_EQ(f.display.Text(Caption::CPUnameCapt), e.cpu);
  EXPECT_EQ(f.presenter.ModeNumber(), e.modus);
  EXPECT_EQ(f.display.Text(Caption::ModeLabel), e.modus == 1 ? "file loaded" : "none");
  EXPECT_EQ(f.display.CheckValue(Check::ProgFlashChk), e.progFlash);
  EXPECT_EQ(f.display.CheckValue(Check::ProgEEpChk), e.progEep);
  EXPECT_EQ(f.presenter.EnableMenuItems(), e.paraEnable);
  EXPECT_EQ(f.presenter.engine().BaudRate(), e.baud);
  EXPECT_EQ(f.dialogs.messages, e.messages);
  EXPECT_FALSE(f.escaped);
}

const Expect kNotLoaded{
    "Brindlemark []", "none", "0 Bytes", "0 Bytes", "---", "---", 0, false, false, false, 9600, {}};

TEST(LoadFiles, OneFileOfEachKind) {
  struct Case {
    const char* why;
    std::string name;
    std::string content;
    Expect expect;
  };
  const std::vector<uint8_t> packBytes = BlinkPack();
  const std::string blinkPack(packBytes.begin(), packBytes.end());
  const Case cases[] = {
      {"a flash image, extension in any case",
       "BOARD.Hex",
       kHexTo1FFF,
       {"Brindlemark [BOARD.Hex]",
        "BOARD.Hex",
        "8192 Bytes",
        "0 Bytes",
        "---",
        "",
        1,
        true,
        false,
        false,
        57600,
        {}}},
      {"an EEPROM image",
       "data.EEP",
       kEep,
       {"Brindlemark [data.EEP]",
        "data.EEP",
        "0 Bytes",
        "17 Bytes",
        "---",
        "",
        1,
        false,
        true,
        false,
        57600,
        {}}},
      {"a pack: its IDs, trimmed CPU name and the Parameter item",
       "blink.PACK",
       blinkPack,
       {"Brindlemark [blink.PACK]",
        "blink.PACK",
        "3 Bytes",
        "2 Bytes",
        "1E950F",
        "ATmega328P",
        1,
        true,
        true,
        true,
        57600,
        {}}},
      {"an unknown extension", "notes.txt", kHexTo1FFF,
       [] {
         Expect e = kNotLoaded;
         e.messages = {"Project file \"*.ppro\" expected!"};
         return e;
       }()},
      {"a HEX file with only the end record", "empty.hex", kEof, kNotLoaded},
      {"an encrypted pack is never accepted", "x.encr", blinkPack, kNotLoaded},
      {"a pack the reader rejects (negative parameter length) shows nothing loaded", "neg.pac",
       [] {
         auto b = packwriter::HeaderBytes({24, -1, 24, 2, 24, 2});
         b.resize(40, 0);
         return std::string(b.begin(), b.end());
       }(),
       [] {
         Expect e = kNotLoaded;
         e.messages = {"Out of memory (40) (in class: dParamList)\n (file: neg.pac)"};
         return e;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchDir dir;
    MainFixture f;
    f.Load(dir.Write(c.name, c.content));
    Check(f, c.expect);
  }
}

TEST(LoadFiles, PackExpectationsBecomeTheSharedState) {
  ScratchDir dir;
  MainFixture f;
  f.Load(dir.Write("blink.pack", BlinkPack()));
  EXPECT_EQ(test::Inside(f.presenter).g.OrgID, 0x1E950F);
  EXPECT_EQ(test::Inside(f.presenter).g.OrgBootID, 0x0101);
  EXPECT_EQ(test::Inside(f.presenter).g.OrgEEpEnd, 1024);
  EXPECT_EQ(test::Inside(f.presenter).g.FlashArr[2], 3);
  EXPECT_EQ(test::Inside(f.presenter).g.FlashArr[3], 0xFF);
}

TEST(LoadFiles, ANewLoadForgetsThePreviousOne) {
  ScratchDir dir;
  MainFixture f;
  f.Load(dir.Write("blink.pack", BlinkPack()));
  ASSERT_TRUE(test::Inside(f.presenter).ParaEnable);
  f.Load(dir.Write("a.hex", kHexTo1FFF));
  EXPECT_FALSE(test::Inside(f.presenter).ParaEnable) << "a HEX file clears the Parameter item";
  EXPECT_EQ(test::Inside(f.presenter).g.OrgID, 0);
  EXPECT_EQ(test::Inside(f.presenter).g.OrgBootID, -1);
  EXPECT_EQ(test::Inside(f.presenter).g.OrgEEpEnd, -1);
  f.Load(dir.Write("b.eep", kEep));
  EXPECT_EQ(f.display.Text(Caption::FlashSizeCapt), "0 Bytes");
  EXPECT_FALSE(f.display.CheckValue(Check::ProgFlashChk));
  EXPECT_EQ(test::Inside(f.presenter).g.FlashArr[0x1FFF], 0xFF) << "the previous flash image is gone";
  EXPECT_EQ(test::Inside(f.presenter).params.eDeviceID, 0x1E950F) << "the parameter set is never reset";
}

TEST(FOpenBtn, ShowsTheFourKindsAndStopsOnCancelOrAnUnreadableFile) {
  ScratchDir dir;
  MainFixture f;
  f.Load(dir.Write("a.hex", kHexTo1FFF));
  ASSERT_EQ(f.dialogs.shownKinds.size(), 4u);
  EXPECT_EQ(f.dialogs.shownKinds[0].name, "qorm/hex");
  EXPECT_EQ(f.dialogs.shownKinds[2].typeCode, "PPRO");
  EXPECT_EQ(f.dialogs.shownKinds[3].extensions, (std::vector<std::string>{"pac", "PAC", "pack", "PACK"}));

  f.dialogs.answer.reset();
  f.presenter.Handle([&] { f.presenter.FOpenBtn_Action(); });
  EXPECT_FALSE(test::Inside(f.presenter).g.f.has_value()) << "cancel leaves no current file";
  EXPECT_EQ(f.presenter.ModeNumber(), 1) << "and changes nothing else";

  // Not plain files: a named pipe would block the open, /dev/zero would never end; on Windows the
  // reserved device names open devices wherever they stand.
#ifdef _WIN32
  const std::vector<std::string> notPlain{dir.Path("missing.hex"), dir.Path(""), "NUL", "CON", "COM1"};
#else
  ASSERT_EQ(::mkfifo(dir.Path("pipe.hex").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir.Path("zero.hex"));
  const std::vector<std::string> notPlain{dir.Path("missing.hex"), dir.Path(""), dir.Path("pipe.hex"),
                                          dir.Path("zero.hex")};
#endif
  for (const std::string& path : notPlain) {
    f.Load(path);
    EXPECT_EQ(f.dialogs.messages.back(), "The selected file is not a text file.");
    EXPECT_EQ(f.presenter.ModeNumber(), 1) << path << ": LoadFiles did not run";
    EXPECT_EQ(test::Inside(f.presenter).g.FlashArr[0x1FFF], 0xAA);
  }
  EXPECT_EQ(f.dialogs.messages.size(), notPlain.size());
}

TEST(FOpenBtn, TheMenuItemPressesTheButton) {
  ScratchDir dir;
  MainFixture f;
  f.dialogs.answer = dir.Write("a.hex", kHexTo1FFF);
  EXPECT_FALSE(f.presenter._load_Action());
  EXPECT_EQ(test::Inside(f.presenter).g.FBytesRead, 0x2000);
}

TEST(FOpenBtn, HoldsTheBusyGuardSoASecondLoadCannotStartInsideTheFirst) {
  ScratchDir dir;
  MainFixture f;
  bool busyDuringLoad = false;
  f.loop.AtYield(5, [&] {
    busyDuringLoad = f.presenter.Busy() && !f.display.baudEnabled;
    f.presenter.FOpenBtn_Action();  // a click on Load while the fill runs
  });
  f.Load(dir.Write("a.hex", kHexTo1FFF));
  EXPECT_TRUE(busyDuringLoad);
  EXPECT_EQ(f.dialogs.openCount, 1);
  EXPECT_FALSE(f.presenter.Busy());
  EXPECT_TRUE(f.display.baudEnabled);
  EXPECT_EQ(f.presenter.ModeNumber(), 1);
}

TEST(FOpenBtn, FillsBothBuffersWithFFBeforeReadingEvenIfTheReadingFails) {
  ScratchDir dir;
  MainFixture f;
  f.Load(dir.Write("bad.hex", ":0100000042BC\n"));  // checksum error in the first record
  for (size_t i : {size_t{1}, size_t{0x3FFFF}}) EXPECT_EQ(test::Inside(f.presenter).g.FlashArr[i], 0xFF);
  for (size_t i : {size_t{0}, size_t{0xFFFF}}) EXPECT_EQ(test::Inside(f.presenter).g.EEpromArr[i], 0xFF);
  EXPECT_EQ(test::Inside(f.presenter).g.FlashArr[0], 0x42)
      << "the record is stored before its checksum is tested";
}

// A file that stops on a format error is not programmable: the not-loaded display, whatever
// was read before the error. A missing end record is only a warning.
TEST(FOpenBtn, ADamagedFileLoadsNothingThatCanBeProgrammed) {
  const std::string good = ":0100000042BD\n";
  const std::string eof = ":00000001FF\n";
  struct Case {
    const char* why;
    std::string name, text;
    std::string message;
    bool loaded;
  } cases[] = {
      {"checksum error after a good record", "damaged.hex", good + ":0100010042BD\n" + eof,
       "checksum error!\nat Line:2\n (file: damaged.hex)", false},
      {"a bad digit", "damaged.hex", good + ":01000100ZZBC\n" + eof,
       "Error in Hex-File!\nat Line:2\n (file: damaged.hex)", false},
      {"an unknown record type", "damaged.eep", good + ":0100000742B6\n",
       "Error in Hex-File!\nat Line:2\n (file: damaged.eep)", false},
      {"past the buffer", "damaged.hex", good + ":020000024000BC\n" + eof,
       "Buffer overflow!\nat Line:3\n (file: damaged.hex)", false},
      {"no end record: a warning, the image loads", "cut.hex", good,
       "End of file record missing!\nat Line:1\n (file: cut.hex)", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchDir dir;
    MainFixture f;
    f.Load(dir.Write(c.name, c.text));
    EXPECT_EQ(f.dialogs.messages, std::vector<std::string>{c.message});
    EXPECT_EQ(f.presenter.LastLoad().loaded, c.loaded);
    EXPECT_EQ(f.presenter.ModeNumber(), c.loaded ? 1 : 0);
    if (!c.loaded) {
      EXPECT_EQ(test::Inside(f.presenter).g.FBytesRead + test::Inside(f.presenter).g.EBytesRead, 0);
      EXPECT_EQ(f.display.Text(Caption::FNameCapt), "none");
      EXPECT_EQ(f.display.Text(Caption::FlashSizeCapt), "0 Bytes");
      EXPECT_FALSE(f.display.Enabled(Button::ComportBtn));
    }
  }
}

// An encrypted pack is refused without a box: status line 0 says why.
TEST(LoadFiles, AnEncryptedPackSaysWhyInStatusLine0) {
  ScratchDir dir;
  MainFixture f;
  f.Load(dir.Write("board.enc", "anything"));
  EXPECT_EQ(f.display.Text(Caption::status0), "Encrypted files (.enc, .encr) cannot be loaded: board.enc");
  EXPECT_TRUE(f.dialogs.messages.empty());
  EXPECT_FALSE(f.presenter.LastLoad().loaded);
  EXPECT_TRUE(f.presenter.LastLoad().Has(DiagnosticCode::Encrypted));
  EXPECT_EQ(f.presenter.ModeNumber(), 0);
}

// A project whose .hex or .eep is damaged is not programmable either; one without an .eep is a
// project without an EEPROM image (the window still shows its "Open failed").
TEST(FOpenBtn, AProjectIsProgrammableOnlyWhenBothItsImagesReadWithoutFormatError) {
  const std::string hex = ":0100000042BD\n:00000001FF\n";
  const std::string damaged = ":0100000042BC\n:00000001FF\n";
  using K = DiagnosticKind;
  using C = DiagnosticCode;
  struct Case {
    const char* why;
    std::optional<std::string> hexText, eepText;
    bool loaded;
    std::vector<std::pair<K, C>> found;  // in the order the boxes were shown
  } cases[] = {
      {"both images", hex, hex, true, {}},
      {"no .eep: a warning, worded as the file-error report",
       hex,
       std::nullopt,
       true,
       {{K::Warning, C::EepromMissing}}},
      {"no .hex", std::nullopt, hex, true, {{K::Error, C::OpenFailed}}},
      {"a damaged .hex", damaged, hex, false, {{K::Error, C::FormatError}}},
      {"a damaged .eep", hex, damaged, false, {{K::Error, C::FormatError}}},
      {"a damaged .hex and no .eep",
       damaged,
       std::nullopt,
       false,
       {{K::Error, C::FormatError}, {K::Warning, C::EepromMissing}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchDir dir;
    MainFixture f;
    if (c.hexText) dir.Write("Board.hex", *c.hexText);
    if (c.eepText) dir.Write("Board.eep", *c.eepText);
    f.Load(dir.Write("Board.ppro", "DeviceID=1\n"));
    EXPECT_EQ(f.presenter.LastLoad().loaded, c.loaded);
    EXPECT_EQ(f.presenter.ModeNumber(), c.loaded ? 1 : 0);
    std::vector<std::pair<K, C>> found;
    std::vector<std::string> texts;
    for (const Diagnostic& d : f.presenter.LastLoad().diagnostics) {
      found.emplace_back(d.kind, d.code);
      texts.push_back(d.text);
    }
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(f.dialogs.messages, texts) << "each finding is shown, as worded, in order";
  }
}

// An error inside a reader leaves the Load button's handler with its trail; the window then
// shows mode 0, so the half-loaded buffers cannot be programmed.
TEST(FOpenBtn, AnEscapedErrorCarriesItsTrailAndLeavesModeNone) {
  struct Case {
    const char* why;
    std::string name;
    std::string content;
    std::vector<std::string> trail;
  };
  const Case cases[] = {
      {"pack reader",
       "short.pack",
       std::string(10, '\0'),
       {"dParamList.LoadPackFile", "Main.OpenButton.Action"}},
      {"HEX reader, EEPROM address above 0xFFFF",
       "big.eep",
       ":020000021000EC\n:0100000042BD\n" + kEof,
       {"Main.OpenButton.Action"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchDir dir;
    MainFixture f;
    f.Load(dir.Write("good.hex", kHexTo1FFF));
    ASSERT_EQ(f.presenter.ModeNumber(), 1);
    f.Load(dir.Write(c.name, c.content));
    ASSERT_TRUE(f.escaped);
    EXPECT_EQ(RuntimeExceptionPlus::Locations(f.escaped), c.trail);
    EXPECT_EQ(f.presenter.ModeNumber(), 0);
    EXPECT_EQ(f.display.Text(Caption::ModeLabel), "none");
    EXPECT_FALSE(f.display.Enabled(Button::ComportBtn));
    EXPECT_FALSE(f.display.Enabled(Check::ProgFlashChk));
    EXPECT_EQ(f.display.Text(Caption::FNameCapt), "good.hex") << "steps 6 to 8 did not run";
    EXPECT_FALSE(f.presenter.Busy());
  }
}

TEST(UnhandledException, ShowsMessageAndTrailAndTheProgramGoesOn) {
  ScratchDir dir;
  test::RecordingDialogs dialogs;
  HeadlessDisplay display;
  test::ScriptedEventLoop loop;
  PortList ports;
  Engine engine{loop, ports};
  Presenter presenter{engine, display, dialogs};  // the default hook
  dialogs.answer = dir.Write("short.pack", std::string(10, '\0'));
  presenter.Handle([&] { presenter.FOpenBtn_Action(); });
  ASSERT_EQ(dialogs.messages.size(), 1u);
  const std::string& text = dialogs.messages[0];
  EXPECT_EQ(text.rfind("Unexpected error: Out of bounds: header", 0), 0u) << text;
  EXPECT_NE(text.find("\ndParamList.LoadPackFile\nMain.OpenButton.Action"), std::string::npos) << text;
  dialogs.answer = dir.Write("a.hex", kHexTo1FFF);
  presenter.Handle([&] { presenter.FOpenBtn_Action(); });
  EXPECT_EQ(presenter.ModeNumber(), 1) << "the next load works";
}

TEST(ErrorTrail, FileErrorTextsAndTwoHandlers) {
  struct Row {
    const char* message;
    const char* origin;
    std::optional<std::filesystem::path> file;
    const char* text;
  };
  const Row rows[] = {
      {"Read failed", "", std::nullopt, "Read failed"},
      {"Read failed", "", std::filesystem::path("/x/y/a.pack"), "Read failed\n (file: a.pack)"},
      {"Open failed", "UHexLoad", std::filesystem::path("b.hex"),
       "Open failed (in class: UHexLoad)\n (file: b.hex)"},
  };
  for (const Row& r : rows) EXPECT_EQ(FileError::Text(r.message, r.origin, r.file), r.text);

  std::exception_ptr caught;
  try {
    try {
      try {
        throw RuntimeError("boom");
      } catch (...) {
        RuntimeExceptionPlus::Cascade(std::current_exception(), "Inner");
      }
    } catch (...) {
      RuntimeExceptionPlus::Cascade(std::current_exception(), "Outer");
    }
  } catch (...) {
    caught = std::current_exception();
  }
  EXPECT_EQ(RuntimeExceptionPlus::stackTrace(caught), "\nInner\nOuter");
}

}  // namespace
}  // namespace bm
