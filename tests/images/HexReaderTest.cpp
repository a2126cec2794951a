#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "ImagesFixture.h"
#include "base/RuntimeExceptionPlus.h"
#include "images/UHexLoad.h"

namespace bm {
namespace {

// One record line with a correct checksum.
std::string Rec(int type, int offset, const std::vector<int>& data) {
  std::vector<int> bytes{static_cast<int>(data.size()), (offset >> 8) & 0xFF, offset & 0xFF, type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  int sum = 0;
  std::string line = ":";
  char hex[3];
  for (int b : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
    sum += b;
  }
  std::snprintf(hex, sizeof hex, "%02X", (-sum) & 0xFF);
  return line + hex + "\n";
}
const std::string kEof = ":00000001FF\n";
// The record with one bit of its checksum flipped.
std::string Flipped(std::string record) {
  char& last = record[record.size() - 2];
  last = last == '0' ? '1' : '0';
  return record;
}
// `n` bytes from `offset` as 16-byte records.
std::string Block(int offset, int n) {
  std::string out;
  for (int at = 0; at < n; at += 16) {
    std::vector<int> data;
    for (int i = at; i < n && i < at + 16; ++i) data.push_back(i & 0xFF);
    out += Rec(0, offset + at, data);
  }
  return out;
}
std::vector<int> Seq(int n, int from = 0) {
  std::vector<int> v;
  for (int i = 0; i < n; ++i) v.push_back((from + i) & 0xFF);
  return v;
}

struct Case {
  const char* why;
  std::string text;
  bool toEEPROM;
  int32_t result;
  std::vector<std::string> messages;
  std::vector<std::pair<int, int>> bytes;  // address, value afterwards (0xFF = untouched)
};

TEST(IntelHex, RecordsAndFormatErrors) {
  const Case cases[] = {
      {"upper-case digits",
       ":10000000000102030405060708090A0B0C0D0E0F78\n" + kEof,
       false,
       16,
       {},
       {{0, 0}, {15, 15}, {16, 0xFF}}},
      {"lower-case digits load the same",
       ":10000000000102030405060708090a0b0c0d0e0f78\n:00000001ff\n",
       false,
       16,
       {},
       {{0, 0}, {15, 15}, {16, 0xFF}}},
      {"CRLF and CR line ends",
       ":0100000042BD\r\n:0100010043BB\r" + kEof,
       false,
       2,
       {},
       {{0, 0x42}, {1, 0x43}}},
      {"image end is one past the highest address, not a count",
       Block(0x1000, 256) + kEof,
       false,
       0x1100,
       {},
       {{0xFFF, 0xFF}, {0x1000, 0}, {0x10FF, 0xFF}}},
      {"leading empty lines are dropped from the numbering",
       "\n\n:0100000042BC\n" + kEof,
       false,
       1,
       {"checksum error!\nat Line:1\n (file: image.hex)"},
       {{0, 0x42}}},
      {"an empty line between records is a record without bytes at 16 x segment",
       Rec(2, 0, {0x10, 0x00}) + "\n" + kEof,
       false,
       0x10000,
       {},
       {}},
      {"data after the end-of-file record are still stored",
       kEof + Rec(0, 0x20, {0x55}),
       false,
       0x21,
       {},
       {{0x20, 0x55}}},
      {"segment 0x1000 + offset 0x0100",
       Rec(2, 0, {0x10, 0x00}) + Rec(0, 0x0100, Seq(16, 0xA0)) + kEof,
       false,
       0x10110,
       {},
       {{0x100FF, 0xFF}, {0x10100, 0xA0}, {0x1010F, 0xAF}, {0x10110, 0xFF}}},
      {"one byte at 0x3FFFF is the last one that fits",
       Rec(2, 0, {0x30, 0x00}) + Rec(0, 0xFFFF, {0x5A}) + kEof,
       false,
       0x40000,
       {},
       {{0x3FFFF, 0x5A}}},
      {"a record running past 0x3FFFF stores what fits, then stops",
       Rec(2, 0, {0x30, 0x00}) + Rec(0, 0xFFFE, {1, 2, 3}) + kEof,
       false,
       0,
       {"Buffer overflow \nat Line:2\n (file: image.hex)"},
       {{0x3FFFE, 1}, {0x3FFFF, 2}}},
      {"segment 0x4000 puts even the end record out of range",
       Rec(2, 0, {0x40, 0x00}) + kEof,
       false,
       0,
       {"Buffer overflow!\nat Line:2\n (file: image.hex)"},
       {}},
      {"checksum off by one: earlier records stay, the bad one is stored and counted",
       Rec(0, 0, {1, 2}) + ":020002000304F6\n" + Rec(0, 0x10, {9}) + kEof,
       false,
       4,
       {"checksum error!\nat Line:2\n (file: image.hex)"},
       {{0, 1}, {3, 4}, {0x10, 0xFF}}},
      {"type 04 value 1 moves the next record to 0x10000",
       Rec(4, 0, {0, 1}) + Rec(0, 0, {7}) + kEof,
       false,
       0x10001,
       {},
       {{0, 0xFF}, {0x10000, 7}}},
      {"type 04 value 3 + offset 0xFFF0 fills the last 16 bytes",
       ":020000040003F7\n" + Rec(0, 0xFFF0, Seq(16, 0xA0)) + kEof,
       false,
       0x40000,
       {},
       {{0x3FFEF, 0xFF}, {0x3FFF0, 0xA0}, {0x3FFFF, 0xAF}, {0xFFF0, 0xFF}}},
      {"type 02 after type 04 replaces its base, not adds to it",
       Rec(4, 0, {0, 3}) + Rec(2, 0, {0x10, 0x00}) + Rec(0, 0x0100, {0x5A}) + kEof,
       false,
       0x10101,
       {},
       {{0x10100, 0x5A}}},
      {"type 04 after type 02 replaces its base, not adds to it",
       Rec(2, 0, {0x30, 0x00}) + Rec(4, 0, {0, 1}) + Rec(0, 0x0020, {0x5A}) + kEof,
       false,
       0x10021,
       {},
       {{0x10020, 0x5A}}},
      {"type 04 value 4 is base 0x40000, past the buffer",
       Rec(4, 0, {0, 4}) + Rec(0, 0, {7}) + kEof,
       false,
       0,
       {"Buffer overflow!\nat Line:2\n (file: image.hex)"},
       {{0, 0xFF}}},
      {"type 04 value 0xFFFF does not wrap to a small or negative address",
       Rec(4, 0, {0xFF, 0xFF}) + Rec(0, 0xFFFF, {7}) + kEof,
       false,
       0,
       {"Buffer overflow!\nat Line:2\n (file: image.hex)"},
       {{0xFFFF, 0xFF}, {0x3FFFF, 0xFF}}},
      {"type 05 bytes are read and dropped like type 03",
       Rec(0, 0, {7}) + Rec(5, 0, {0x00, 0x00, 0x01, 0x00}) + kEof,
       false,
       1,
       {},
       {{0, 7}, {0x100, 0xFF}}},
      {"type 06 is refused and ends the reading",
       Rec(0, 0, {7}) + Rec(6, 0, {0, 0}) + Rec(0, 1, {8}) + kEof,
       false,
       1,
       {"Error in Hex-File!\nat Line:2\n (file: image.hex)"},
       {{0, 7}, {1, 0xFF}}},
      {"type 03 bytes are read and dropped",
       Rec(3, 0, {0x12, 0x34, 0x56, 0x78}) + Rec(0, 0, {7}) + kEof,
       false,
       1,
       {},
       {{0, 7}, {1, 0xFF}}},
      // Every record type's checksum is checked: a flipped bit in an 02 or 04 record would move
      // the code after it to another segment unseen.
      {"an 04 record with a wrong checksum stops the reading",
       Rec(0, 0, {7}) + Flipped(Rec(4, 0, {0, 1})) + Rec(0, 0, {8}) + kEof,
       false,
       1,
       {"checksum error!\nat Line:2\n (file: image.hex)"},
       {{0, 7}, {0x10000, 0xFF}}},
      {"an 02 record with a wrong checksum stops the reading",
       Rec(0, 0, {7}) + Flipped(Rec(2, 0, {0x10, 0x00})) + Rec(0, 0, {8}) + kEof,
       false,
       1,
       {"checksum error!\nat Line:2\n (file: image.hex)"},
       {{0, 7}, {0x10000, 0xFF}}},
      {"an 05 record with a wrong checksum stops the reading",
       Rec(0, 0, {7}) + Flipped(Rec(5, 0, {0, 0, 1, 0})) + Rec(0, 1, {8}) + kEof,
       false,
       1,
       {"checksum error!\nat Line:2\n (file: image.hex)"},
       {{0, 7}, {1, 0xFF}}},
      {"an end record with a wrong checksum is a damaged file",
       Rec(0, 0, {7}) + Flipped(kEof),
       false,
       1,
       {"checksum error!\nat Line:2\n (file: image.hex)"},
       {{0, 7}}},
      {"a bad data byte stores 0 at its address and stops",
       ":0200000011ZZ00\n" + kEof,
       false,
       0,
       {"Error in Hex-File!\nat Line:1\n (file: image.hex)"},
       {{0, 0x11}, {1, 0x00}, {2, 0xFF}}},
      {"a bad checksum field is reported, then the sum test still runs",
       ":0100000042XX\n" + kEof,
       false,
       1,
       {"Error in Hex-File!\nat Line:1\n (file: image.hex)",
        "checksum error!\nat Line:1\n (file: image.hex)"},
       {{0, 0x42}}},
      {"a line without ':' goes on at the previous line's read position",
       kEof + "xxxxxxxxxxx0100000042BD\n",
       false,
       1,
       {},
       {{0, 0x42}}},
      {"a record ending the file without a line end", Rec(0, 0, {7}) + ":00000001FF", false, 1, {}, {{0, 7}}},
      {"no end record: the image is kept and the cut-off file is reported",
       Rec(0, 0, {7, 8}),
       false,
       2,
       {"End of file record missing!\nat Line:1\n (file: image.hex)"},
       {{1, 8}}},
      {"an empty file loads nothing and says why",
       "",
       false,
       0,
       {"End of file record missing!\nat Line:1\n (file: image.hex)"},
       {}},
      {"EEPROM records go to the EEPROM buffer",
       Rec(0, 0x10, {0xAB}) + kEof,
       true,
       0x11,
       {},
       {{0x10, 0xAB}, {0x11, 0xFF}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    test::ScratchDir dir;
    Globals g;
    std::fill(g.FlashArr.begin(), g.FlashArr.end(), 0xFF);
    std::fill(g.EEpromArr.begin(), g.EEpromArr.end(), 0xFF);
    test::RecordingDialogs dialogs;
    test::ScriptedEventLoop loop;
    const std::string path = dir.Write("image.hex", c.text);
    const UHexLoad::HexRead read = UHexLoad::IntelHex(path, c.toEEPROM, g, g.st, test::Shown(dialogs), loop);
    EXPECT_EQ(read.end, c.result);
    EXPECT_EQ(dialogs.messages, c.messages);
    const auto& buffer = c.toEEPROM ? g.EEpromArr : g.FlashArr;
    for (auto [address, value] : c.bytes) EXPECT_EQ(buffer[address], value) << "at " << address;
    EXPECT_EQ(read.file->filename(), "image.hex");
    // Every message but the missing end record is a format error: the file must not be programmed.
    const bool formatError = std::any_of(c.messages.begin(), c.messages.end(), [](const std::string& m) {
      return m.rfind("End of file record missing!", 0) != 0;
    });
    EXPECT_EQ(read.damaged, formatError);
  }
}

// Toolchains write addresses above 0xFFFF either way: segment (02) or linear (04) base records,
// and often a type 04 record of 0 ahead of everything. All must give the same image.
TEST(IntelHex, SegmentAndLinearBasesLoadTheSameImage) {
  const int from = 0xFF80, size = 0x300;  // crosses 0x10000
  std::vector<int> data;
  for (int i = 0; i < size; ++i) data.push_back((i * 7 + 3) & 0xFF);
  // 16-byte records, each preceded by a base record of `type` when the upper address bits change.
  auto write = [&](int type) {
    std::string out;
    int upper = -1;
    for (int at = 0; at < size; at += 16) {
      const int address = from + at;
      if (address >> 16 != upper) {
        upper = address >> 16;
        out += type == 2 ? Rec(2, 0, {(upper << 4) & 0xFF, 0}) : Rec(4, 0, {0, upper});
      }
      out += Rec(0, address & 0xFFFF, std::vector<int>(data.begin() + at, data.begin() + at + 16));
    }
    return out;
  };
  const std::pair<const char*, std::string> files[] = {
      {"type 02 bases", write(2) + kEof},
      {"type 04 bases and a type 05 start", write(4) + Rec(5, 0, {0, 0, 0xFF, 0x80}) + kEof},
      {"a leading type 04 of 0, then type 02 bases", ":020000040000FA\n" + write(2) + kEof},
  };
  std::vector<uint8_t> expected(kFlashSize, 0xFF);
  std::copy(data.begin(), data.end(), expected.begin() + from);
  for (const auto& [why, text] : files) {
    SCOPED_TRACE(why);
    test::ScratchDir dir;
    Globals g;
    std::fill(g.FlashArr.begin(), g.FlashArr.end(), 0xFF);
    test::RecordingDialogs dialogs;
    test::ScriptedEventLoop loop;
    const UHexLoad::HexRead read =
        UHexLoad::IntelHex(dir.Write("image.hex", text), false, g, g.st, test::Shown(dialogs), loop);
    EXPECT_EQ(read.end, from + size);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(g.FlashArr == expected) << "the whole 256 KiB image, byte for byte";
  }
}

// A whole flash image in one file (some 700 KB of text, far more than one read chunk): every
// byte arrives, and the yields stay one per line read, per data byte and per record.
TEST(IntelHex, AWhole256KiBImage) {
  std::string text;
  std::vector<uint8_t> expected(kFlashSize);
  int lines = 0;
  for (int segment = 0; segment < 4; ++segment) {
    text += Rec(2, 0, {segment << 4, 0});
    ++lines;
    for (int offset = 0; offset < 0x10000; offset += 16) {
      std::vector<int> data;
      for (int i = 0; i < 16; ++i) {
        const int address = (segment << 16) + offset + i;
        data.push_back((address * 7 + (address >> 8)) & 0xFF);
        expected[address] = static_cast<uint8_t>(data.back());
      }
      text += Rec(0, offset, data);
      ++lines;
    }
  }
  text += kEof;
  ++lines;
  test::ScratchDir dir;
  Globals g;
  test::RecordingDialogs dialogs;
  test::ScriptedEventLoop loop;
  const UHexLoad::HexRead read =
      UHexLoad::IntelHex(dir.Write("image.hex", text), false, g, g.st, test::Shown(dialogs), loop);
  EXPECT_EQ(read.end, kFlashSize);
  EXPECT_FALSE(read.damaged);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(g.FlashArr == expected) << "the whole 256 KiB image, byte for byte";
  EXPECT_EQ(g.st.size(), static_cast<size_t>(lines));
  EXPECT_EQ(loop.yields, lines /*lines read*/ + kFlashSize /*data bytes*/ + lines /*records*/);
}

TEST(IntelHex, FileErrorsReportAndGiveZero) {
  test::ScratchDir dir;
  Globals g;
  test::RecordingDialogs dialogs;
  test::ScriptedEventLoop loop;
  EXPECT_EQ(UHexLoad::IntelHex(dir.Path("missing.hex"), false, g, g.st, test::Shown(dialogs), loop).end, 0);
  const UHexLoad::HexRead none = UHexLoad::IntelHex("", false, g, g.st, test::Shown(dialogs), loop);
  EXPECT_EQ(none.end, 0);
  EXPECT_FALSE(none.file.has_value()) << "an empty path resolves to no file";
  EXPECT_EQ(UHexLoad::IntelHex(dir.Path(""), false, g, g.st, test::Shown(dialogs), loop).end, 0)
      << "a folder gives 0 silently";
  EXPECT_EQ(dialogs.messages,
            (std::vector<std::string>{"Open failed (in class: UHexLoad)\n (file: missing.hex)",
                                      "No file specified (in class: UHexLoad)"}));
}

TEST(IntelHex, EepromBeyondItsBufferIsAnErrorNotAWrite) {
  struct Row {
    const char* why;
    std::string text;
  };
  const Row rows[] = {
      {"a data byte at 0x10000", Rec(2, 0, {0x10, 0x00}) + Rec(0, 0, {1}) + kEof},
      {"a record crossing 0xFFFF stores up to it, then fails", Rec(0, 0xFFFF, {1, 2}) + kEof},
      {"a record without bytes cannot move the image end past the buffer",
       Rec(2, 0, {0x10, 0x01}) + "\n" + kEof},
      {"a type 04 base of 0x10000", Rec(4, 0, {0, 1}) + Rec(0, 0, {1}) + kEof},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    test::ScratchDir dir;
    Globals g;
    test::RecordingDialogs dialogs;
    test::ScriptedEventLoop loop;
    const std::string path = dir.Write("data.eep", row.text);
    try {
      UHexLoad::IntelHex(path, true, g, g.st, test::Shown(dialogs), loop);
      ADD_FAILURE() << "no error";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Out of bounds: EEPROM address &h1", 0), 0u) << e.what();
    }
    EXPECT_TRUE(dialogs.messages.empty());
  }
}

TEST(IntelHex, YieldsPerLineReadPerDataByteAndPerRecord) {
  test::ScratchDir dir;
  Globals g;
  test::RecordingDialogs dialogs;
  test::ScriptedEventLoop loop;
  const std::string path = dir.Write("y.hex", Rec(0, 0, Seq(16)) + Rec(3, 0, {1, 2, 3, 4}) + kEof);
  UHexLoad::IntelHex(path, false, g, g.st, test::Shown(dialogs), loop);
  EXPECT_EQ(loop.yields, 3 /*lines read*/ + 16 /*data bytes*/ + 4 /*type 03 bytes*/ + 3 /*records*/);
}

}  // namespace
}  // namespace bm
