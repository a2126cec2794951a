#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "ImagesFixture.h"
#include "app/packwriter/PackWriter.h"
#include "base/RuntimeExceptionPlus.h"
#include "images/dParamList.h"
#include "support/Inside.h"

namespace bm {
namespace {

using Bytes = std::vector<uint8_t>;
using packwriter::Header;
using packwriter::kHeaderSize;
using packwriter::kParamBlockSize;

dParamList::ParamSet Sample() {
  dParamList::ParamSet p;
  p.eFileVersion = 0x0102;
  p.eProjectName = "Blink";
  p.eCPUname = "ATmega328P";
  p.eDeviceID = 0x1E950F;
  p.eBootID = 0xBEEF;
  p.eEEpromMax = 1024;
  p.eVoltage = 0x8000 | 330;
  p.eReserved14 = 0x5C;
  p.eJTAGN = true;
  p.eSername1 = "A";
  p.eSername2 = "z";
  return p;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}
Bytes Ramp(int n, int from) {
  Bytes out;
  for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(from + i));
  return out;
}
// Header + block + images in header order, with the counts given as they are.
Bytes Layout(Bytes block, int32_t flashCount, Bytes flash, int32_t eepromCount, Bytes eeprom) {
  Header h;
  h.ParamOffset = kHeaderSize;
  h.ParamLength = static_cast<int32_t>(block.size());
  h.FlashOffset = kHeaderSize + static_cast<int32_t>(block.size());
  h.FlashCount = flashCount;
  h.EEpromOffset = h.FlashOffset + static_cast<int32_t>(flash.size());
  h.EEpromCount = eepromCount;
  return Concat({packwriter::HeaderBytes(h), block, flash, eeprom});
}

struct PackFixture : test::MainFixture {
  test::ScratchDir dir;
  Bytes file;
  bool Read(const Bytes& bytes, const std::string& name = "t.pack") {
    file = bytes;
    std::fill(test::Inside(presenter).g.FlashArr.begin(), test::Inside(presenter).g.FlashArr.end(), 0xFF);
    std::fill(test::Inside(presenter).g.EEpromArr.begin(), test::Inside(presenter).g.EEpromArr.end(), 0xFF);
    const dParamList::PackRead read =
        dParamList::LoadPackFile(dir.Write(name, bytes), test::Inside(presenter).g,
                                 test::Inside(presenter).params, test::Shown(dialogs), loop);
    test::Inside(presenter).g.f = read.file;  // as the loading step re-points the current file
    return read.ok;
  }
};

TEST(LoadPackFile, EveryFieldSitsAtItsOffset) {
  PackFixture f;
  ASSERT_TRUE(f.Read(packwriter::Pack(Sample(), Ramp(10, 1), Ramp(3, 0x80))));
  const auto& p = test::Inside(f.presenter).params;
  EXPECT_EQ(p.eFileVersion, 0x0102);
  EXPECT_EQ(p.eProjectName, "Blink");
  EXPECT_EQ(p.eCPUname, "ATmega328P");
  EXPECT_EQ(p.eDeviceID, 0x1E950F);
  EXPECT_EQ(p.eBootID, 0xBEEF);
  EXPECT_EQ(p.eVoltage, 0x8000 | 330) << "w16 keeps the bits";
  EXPECT_EQ(p.eReserved14, 0x5C);
  EXPECT_TRUE(p.eJTAGN);
  EXPECT_EQ(p.eSername1 + p.eSername2, "Az");
  EXPECT_EQ(test::Inside(f.presenter).g.FBytesRead, 10);
  EXPECT_EQ(test::Inside(f.presenter).g.EBytesRead, 3);
  EXPECT_EQ(test::Inside(f.presenter).g.FlashArr[9], 10);
  EXPECT_EQ(test::Inside(f.presenter).g.FlashArr[10], 0xFF);
  EXPECT_EQ(test::Inside(f.presenter).g.EEpromArr[2], 0x82);
  EXPECT_EQ(test::Inside(f.presenter).g.f->filename(), "t.pack");
  EXPECT_TRUE(f.dialogs.messages.empty());

  // A block read back and written again is the same block: reader and writer agree on every
  // offset, not only the ones checked above.
  Bytes block(kParamBlockSize);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + 3);
  for (size_t at : {0x02, 0x15}) block[at] = 4;  // text lengths within their slots
  for (size_t at : {0x2D, 0x2E, 0x2F, 0x30, 0x31, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x57, 0x8D, 0xB7, 0xB8, 0xB9,
                    0xBB, 0xBC, 0xC0, 0xC1})
    block[at] = static_cast<uint8_t>(at & 1);  // bools as 0/1
  for (size_t at : {0x03, 0x04, 0x05, 0x06, 0x16, 0x17, 0x18, 0x19, 0x61, 0x62}) block[at] = 'A' + (at & 7);
  for (size_t at = 0x07; at < 0x11; ++at) block[at] = 0;  // the unused rest of the text slots
  for (size_t at = 0x1A; at < 0x26; ++at) block[at] = 0;
  for (size_t at = 0xA8; at < 0xB7; ++at) block[at] = 0;  // the field nothing interprets
  ASSERT_TRUE(f.Read(Layout(block, 0, {}, 0, {})));
  EXPECT_EQ(packwriter::ParamBlock(test::Inside(f.presenter).params), block);
}

struct Case {
  const char* why;
  std::function<Bytes()> build;
  const char* outcome;  // "true", "false" or "throws"
  int32_t flashBytes, eepromBytes;
  std::vector<std::pair<int, int>> flash;  // address, value afterwards
  std::vector<std::string> messages;
};

TEST(LoadPackFile, HeaderCountsAndHostileLayouts) {
  const Bytes block = packwriter::ParamBlock(Sample());
  const std::string oom = "Out of memory (%N) (in class: dParamList)\n (file: t.pack)";
  const Case cases[] = {
      {"count 0: no flash image", [&] { return Layout(block, 0, {}, 0, {}); }, "true", 0, 0, {{0, 0xFF}}, {}},
      {"count 1: the reader takes count - 1 bytes, so none",
       [&] { return Layout(block, 1, {}, 1, {}); },
       "true",
       0,
       0,
       {{0, 0xFF}},
       {}},
      {"count 5 copies the first 4 bytes",
       [&] { return Layout(block, 5, Ramp(5, 0x10), 0, {}); },
       "true",
       4,
       0,
       {{0, 0x10}, {3, 0x13}, {4, 0xFF}},
       {}},
      {"a negative count copies nothing and counts nothing",
       [&] { return Layout(block, -7, {}, -1, {}); },
       "true",
       0,
       0,
       {{0, 0xFF}},
       {}},
      {"a negative parameter length: report, nothing read, not a usable pack",
       [&] {
         Bytes b = Layout(block, 3, Ramp(2, 1), 3, Ramp(2, 1));
         b[4] = b[5] = b[6] = b[7] = 0xFF;
         return b;
       },
       "false",
       0,
       0,
       {{0, 0xFF}},
       {oom}},
      {"images before the parameter block read as in header order",
       [&] {
         Header h{kHeaderSize + 6, kParamBlockSize, kHeaderSize, 4, kHeaderSize + 3, 4};
         return Concat({packwriter::HeaderBytes(h), Ramp(6, 0x40), block});
       },
       "true",
       3,
       3,
       {{0, 0x40}, {2, 0x42}},
       {}},
      {"overlapping images read the same bytes twice",
       [&] {
         Header h{kHeaderSize, kParamBlockSize, kHeaderSize, 6, kHeaderSize + 1, 3};
         return Concat({packwriter::HeaderBytes(h), block});
       },
       "true",
       5,
       2,
       {{0, block[0]}, {4, block[4]}},
       {}},
      {"a file shorter than its header", [] { return Bytes(23, 0); }, "throws", 0, 0, {}, {}},
      {"a parameter block past the end of the file",
       [&] {
         Bytes b = Layout(block, 0, {}, 0, {});
         b.pop_back();
         return b;
       },
       "throws",
       0,
       0,
       {},
       {}},
      {"a parameter offset near 4 GiB cannot wrap around",
       [&] {
         Bytes b = Layout(block, 0, {}, 0, {});
         b[0] = b[1] = b[2] = b[3] = 0xFF;
         return b;
       },
       "throws",
       0,
       0,
       {},
       {}},
      {"a flash image past the end of the file is not copied nor counted",
       [&] { return Layout(block, 100, Ramp(10, 1), 3, Ramp(2, 1)); },
       "throws",
       0,
       0,
       {{0, 0xFF}},
       {}},
      {"a negative image offset",
       [&] {
         Bytes b = Layout(block, 3, Ramp(2, 1), 0, {});
         b[0x0B] = 0x80;
         return b;
       },
       "throws",
       0,
       0,
       {{0, 0xFF}},
       {}},
      {"a huge count is judged against the file, never allocated",
       [&] { return Layout(block, 0x7FFFFFFF, {}, 0, {}); },
       "throws",
       0,
       0,
       {},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    PackFixture f;
    const Bytes bytes = c.build();
    std::vector<std::string> messages;
    for (std::string m : c.messages)
      messages.push_back(m.replace(m.find("%N"), 2, std::to_string(bytes.size())));
    if (std::string(c.outcome) == "throws") {
      try {
        f.Read(bytes);
        ADD_FAILURE() << "no error";
      } catch (const RuntimeError& e) {
        EXPECT_EQ(RuntimeExceptionPlus::Locations(std::current_exception()),
                  std::vector<std::string>{"dParamList.LoadPackFile"});
      }
    } else {
      EXPECT_EQ(f.Read(bytes), std::string(c.outcome) == "true");
    }
    EXPECT_EQ(test::Inside(f.presenter).g.FBytesRead, c.flashBytes);
    EXPECT_EQ(test::Inside(f.presenter).g.EBytesRead, c.eepromBytes);
    for (auto [address, value] : c.flash)
      EXPECT_EQ(test::Inside(f.presenter).g.FlashArr[address], value) << "at " << address;
    EXPECT_EQ(f.dialogs.messages, messages);
  }
}

TEST(LoadPackFile, AShortBlockFailsAtItsLastFieldWithTheFieldsBeforeKept) {
  PackFixture f;
  Bytes block = packwriter::ParamBlock(Sample());
  block.pop_back();  // 194 bytes: eReserved14 at 0xC2 is missing
  EXPECT_THROW(f.Read(Layout(block, 3, Ramp(2, 1), 0, {})), RuntimeError);
  EXPECT_TRUE(test::Inside(f.presenter).params.eJTAGN) << "0xC1 was read";
  EXPECT_EQ(test::Inside(f.presenter).params.eReserved14, 0) << "0xC2 was not";
  EXPECT_EQ(test::Inside(f.presenter).g.FlashArr[0], 0xFF) << "no image copied";
  EXPECT_EQ(test::Inside(f.presenter).g.FBytesRead, 0);
}

TEST(LoadPackFile, AFlashImageLongerThanTheBufferFillsItThenFails) {
  PackFixture f;
  Bytes flash(kFlashSize + 5, 0x33);
  EXPECT_THROW(f.Read(Layout(packwriter::ParamBlock(Sample()), kFlashSize + 6, flash, 3, Ramp(2, 1))),
               RuntimeError);
  EXPECT_EQ(test::Inside(f.presenter).g.FlashArr[0], 0x33);
  EXPECT_EQ(test::Inside(f.presenter).g.FlashArr[kFlashSize - 1], 0x33);
  EXPECT_EQ(test::Inside(f.presenter).g.FBytesRead, kFlashSize + 5);
  EXPECT_EQ(test::Inside(f.presenter).g.EBytesRead, 0) << "the EEPROM image was not read";
  EXPECT_EQ(test::Inside(f.presenter).g.EEpromArr[0], 0xFF);
}

TEST(LoadPackFile, TextAndFlagFields) {
  struct Row {
    const char* why;
    size_t at;
    Bytes bytes;
    std::function<void(const dParamList::ParamSet&)> check;
  };
  const Row rows[] = {
      {"trimmed: length 4, ' AB ' is AB",
       0x02,
       {4, ' ', 'A', 'B', ' '},
       [](const auto& p) { EXPECT_EQ(p.eProjectName, "AB"); }},
      {"a length past the slot takes the next bytes of the block",
       0x02,
       {20},
       [](const auto& p) { EXPECT_EQ(p.eProjectName.size(), 20u); }},
      {"8-bit characters are kept as Latin-1",
       0x15,
       {2, 0xB5, 'C'},
       [](const auto& p) {
         EXPECT_EQ(p.eCPUname,
                   "\xC2\xB5"
                   "C");
       }},
      {"bool 1 and 255 are true",
       0x3A,
       {1, 255},
       [](const auto& p) { EXPECT_TRUE(p.eProgFlash && p.eProgEEprom); }},
      {"bool 2 and 254 are false",
       0x3A,
       {2, 254},
       [](const auto& p) { EXPECT_FALSE(p.eProgFlash || p.eProgEEprom); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    PackFixture f;
    Bytes block = packwriter::ParamBlock(Sample());
    std::copy(row.bytes.begin(), row.bytes.end(), block.begin() + static_cast<std::ptrdiff_t>(row.at));
    ASSERT_TRUE(f.Read(Layout(block, 0, {}, 0, {})));
    row.check(test::Inside(f.presenter).params);
  }
  PackFixture f;
  Bytes block = packwriter::ParamBlock(Sample());
  block[0xC2 - 1] = 0;
  block[0x15] = 200;  // the CPU name would run past the block's end
  EXPECT_THROW(f.Read(Layout(block, 0, {}, 0, {})), RuntimeError);
}

// The file shrank between its size and its read: the images may have been copied already, but
// the pack is not usable, so nothing of it counts as loaded (its IDs were never taken over).
TEST(LoadPackFile, AShortReadLeavesNothingThatCountsAsLoaded) {
  PackFixture f;
  Bytes pack = packwriter::Pack(Sample(), Ramp(10, 1), Ramp(3, 0x80));
  pack.push_back(0);  // a byte past the images: the short read loses only that one
  const std::string path = f.dir.Write("short.pack", pack);
  const dParamList::ReadBytes shortRead = [](std::FILE* file, uint8_t* into, size_t size) {
    return std::fread(into, 1, size - 1, file);
  };
  const dParamList::PackRead read =
      dParamList::LoadPackFile(path, test::Inside(f.presenter).g, test::Inside(f.presenter).params,
                               test::Shown(f.dialogs), f.loop, shortRead);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(test::Inside(f.presenter).g.FlashArr[0], 1) << "the image was copied before the failure showed";
  EXPECT_EQ(test::Inside(f.presenter).g.FBytesRead, 0);
  EXPECT_EQ(test::Inside(f.presenter).g.EBytesRead, 0);
  EXPECT_EQ(f.dialogs.messages,
            std::vector<std::string>{"Read failed (in class: dParamList)\n (file: short.pack)"});
}

// The offsets of the fields the program uses, placed by hand (not by the pack writer).
TEST(LoadPackFile, FieldsTheProgramUsesAtTheirHandPlacedOffsets) {
  Bytes block(195, 0);
  auto put = [&block](size_t at, Bytes bytes) { std::copy(bytes.begin(), bytes.end(), block.begin() + at); };
  put(0x02, {5, ' ', 'B', 'l', 'k', ' '});  // eProjectName: length 5, trimmed
  put(0x15, {4, 'm', '3', '2', '8'});       // eCPUname
  put(0x3E, {0x0F, 0x95, 0x1E, 0x00});      // eDeviceID, little-endian
  put(0x4E, {0x00, 0x04, 0x00, 0x00});      // eEEpromMax 1024
  put(0x61, {'Q', 'r'});                    // eSername1, eSername2
  put(0x7C, {0x01, 0x01});                  // eBootID 0x0101
  PackFixture f;
  ASSERT_TRUE(f.Read(Layout(block, 1, {}, 1, {})));
  const auto& p = test::Inside(f.presenter).params;
  EXPECT_EQ(p.eProjectName, "Blk");
  EXPECT_EQ(p.eCPUname, "m328");
  EXPECT_EQ(p.eDeviceID, 0x1E950F);
  EXPECT_EQ(p.eEEpromMax, 1024);
  EXPECT_EQ(p.eSername1, "Q");
  EXPECT_EQ(p.eSername2, "r");
  EXPECT_EQ(p.eBootID, 0x0101);
}

TEST(LoadPackFile, FileErrors) {
  PackFixture f;
  EXPECT_FALSE(dParamList::LoadPackFile(f.dir.Path("none.pack"), test::Inside(f.presenter).g,
                                        test::Inside(f.presenter).params, test::Shown(f.dialogs), f.loop)
                   .ok);
  const dParamList::PackRead none = dParamList::LoadPackFile(
      "", test::Inside(f.presenter).g, test::Inside(f.presenter).params, test::Shown(f.dialogs), f.loop);
  EXPECT_FALSE(none.ok);
  EXPECT_FALSE(none.file.has_value());
  EXPECT_FALSE(dParamList::LoadPackFile(f.dir.Path(""), test::Inside(f.presenter).g,
                                        test::Inside(f.presenter).params, test::Shown(f.dialogs), f.loop)
                   .ok);
  EXPECT_EQ(f.dialogs.messages,
            (std::vector<std::string>{"Open failed (in class: dParamList)\n (file: none.pack)",
                                      "No file specified (in class: dParamList)"}));
}

// A file too large to hold in memory (sparse here, so it costs no disk): the report names its
// length, and nothing else is claimed about it.
TEST(LoadPackFile, AFileTooLargeToHoldIsReportedOnce) {
  PackFixture f;
  const std::string path = f.dir.Write("huge.pack", "");
  const uintmax_t size = uintmax_t{1} << 31;  // one past the largest 32-bit signed length
  std::filesystem::resize_file(path, size);
  test::Inside(f.presenter).g.FBytesRead = 12;
  EXPECT_FALSE(dParamList::LoadPackFile(path, test::Inside(f.presenter).g, test::Inside(f.presenter).params,
                                        test::Shown(f.dialogs), f.loop)
                   .ok);
  EXPECT_EQ(f.dialogs.messages,
            std::vector<std::string>{"Out of memory (2147483648) (in class: dParamList)\n (file: huge.pack)"})
      << "the file was never read, so no read failure either";
  EXPECT_EQ(test::Inside(f.presenter).g.FBytesRead, 0);
}

TEST(LoadEncFile, ChangesNothing) {
  PackFixture f;
  test::Inside(f.presenter).g.FBytesRead = 12;
  test::Inside(f.presenter).params.eCPUname = "kept";
  EXPECT_FALSE(dParamList::LoadEncFile(f.dir.Write("x.enc", packwriter::Pack(Sample(), Ramp(4, 0), {}))));
  EXPECT_EQ(test::Inside(f.presenter).g.FBytesRead, 12);
  EXPECT_EQ(test::Inside(f.presenter).params.eCPUname, "kept");
  EXPECT_TRUE(f.dialogs.messages.empty());
}

}  // namespace
}  // namespace bm
