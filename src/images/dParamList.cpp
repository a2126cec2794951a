#include "images/dParamList.h"

#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <string_view>
#include <system_error>

#include "base/FileError.h"
#include "base/FileOpen.h"
#include "base/RuntimeExceptionPlus.h"
#include "base/Sha256.h"
#include "base/Util.h"
#include "images/TextFile.h"

namespace bm::dParamList {
namespace {

constexpr const char* kOrigin = "dParamList";
constexpr int64_t kHeaderSize = 24;

void raiseExc(Diagnostics& found, DiagnosticCode code, const std::string& message,
              const std::optional<std::filesystem::path>& file) {
  FileError::Constructor(found, code, message, kOrigin, file);
}

std::string Range(int64_t offset, int64_t length) {
  return "offset " + std::to_string(offset) + ", length " + std::to_string(length);
}

// A window onto the file's bytes; every read is checked against the window's end. Offsets and
// lengths are 64-bit so that no header value can wrap around.
class Bytes {
 public:
  Bytes(const uint8_t* data, int64_t size, const char* what) : data_(data), size_(size), what_(what) {}

  Bytes Sub(int64_t offset, int64_t length, const char* what) const {
    Check(offset, length, what);
    return Bytes(data_ + offset, length, what);
  }
  uint8_t U8(int64_t at) const {
    Check(at, 1, what_);
    return data_[at];
  }
  bool Bool(int64_t at) const { return Util::int2bool(U8(at)); }
  uint16_t U16(int64_t at) const {
    Check(at, 2, what_);
    return static_cast<uint16_t>(data_[at] | (data_[at + 1] << 8));
  }
  uint32_t U32(int64_t at) const {
    Check(at, 4, what_);
    return static_cast<uint32_t>(data_[at]) | (static_cast<uint32_t>(data_[at + 1]) << 8) |
           (static_cast<uint32_t>(data_[at + 2]) << 16) | (static_cast<uint32_t>(data_[at + 3]) << 24);
  }
  int32_t I32(int64_t at) const { return static_cast<int32_t>(U32(at)); }
  // A length byte L followed by L characters; L is not limited to the slot, only to the block.
  std::string Text(int64_t at) const {
    const int64_t length = U8(at);
    Check(at + 1, length, what_);
    return Latin1(data_ + at + 1, length);
  }
  std::string Char(int64_t at) const { return Latin1(data_ + at, (Check(at, 1, what_), 1)); }
  const uint8_t* Data() const { return data_; }
  int64_t Size() const { return size_; }

 private:
  void Check(int64_t offset, int64_t length, const char* what) const {
    if (offset < 0 || length < 0 || offset > size_ || length > size_ - offset)
      throw RuntimeError(std::string("Out of bounds: ") + what + " at " + Range(offset, length) +
                         " is outside the " + std::to_string(size_) + " bytes of the " + what_);
  }
  static std::string Latin1(const uint8_t* p, int64_t n) {
    std::string out;
    for (int64_t i = 0; i < n; ++i) {
      const uint8_t c = p[i];
      if (c < 0x80) {
        out += static_cast<char>(c);
      } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    return out;
  }

  const uint8_t* data_;
  int64_t size_;
  const char* what_;
};

std::string Trim(std::string text) {
  const char* kSpace = " \t\n\v\f\r";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(kSpace);
  return text.substr(first, last - first + 1);
}

// The block's first part: names, the programming options and the expected IDs and sizes.
void ReadProjectFields(const Bytes& b, ParamSet& p) {
  p.eFileVersion = b.U16(0x00);
  p.eProjectName = Trim(b.Text(0x02));
  p.eFileAge = b.I32(0x11);
  p.eCPUname = Trim(b.Text(0x15));
  p.ePoll = b.U8(0x26);
  p.eCPUtyp = b.U8(0x27);
  p.eClock = b.I32(0x28);
  p.ePageSize = b.U8(0x2C);
  p.eProgName = b.Bool(0x2D);
  p.eProgSerNum = b.Bool(0x2E);
  p.eIgnoreID = b.Bool(0x2F);
  p.eInvReset = b.Bool(0x30);
  p.ePushPullRes = b.Bool(0x31);
  p.eResDelay = b.U16(0x32);
  p.eProgWait = b.U8(0x34);
  p.eSPIspeed = b.U8(0x35);
  p.eLockBits0 = b.U8(0x36);
  p.eFuseBits0 = b.U8(0x37);
  p.eFuseBits1 = b.U8(0x38);
  p.eProgFuses = b.Bool(0x39);
  p.eProgFlash = b.Bool(0x3A);
  p.eProgEEprom = b.Bool(0x3B);
  p.eAT89Era = b.Bool(0x3C);
  p.eAutoRelease = b.Bool(0x3D);
  p.eDeviceID = b.I32(0x3E);
  p.eEProgEnd = b.I32(0x42);
  p.eFProgEnd = b.I32(0x46);
  p.eFlashMax = b.I32(0x4A);
  p.eEEpromMax = b.I32(0x4E);
}

// The fuse write and read commands, five fields each.
void ReadFuseFields(const Bytes& b, ParamSet& p) {
  p.eFuseWRcmd0 = b.I32(0x52);
  p.eFuseWRadr0 = b.U8(0x56);
  p.eStayActive = b.Bool(0x57);
  p.eISPserNum = b.U16(0x58);
  p.eFuseWRMask0 = b.U8(0x5A);

  p.eFuseWRcmd1 = b.I32(0x5B);
  p.eFuseWRadr1 = b.U8(0x5F);
  p.eByte1 = b.U8(0x60);
  p.eSername1 = b.Char(0x61);
  p.eSername2 = b.Char(0x62);
  p.eFuseWRMask1 = b.U8(0x63);

  p.eFuseWRcmd2 = b.I32(0x64);
  p.eFuseWRadr2 = b.U8(0x68);
  p.eByte2 = b.U8(0x69);
  p.eBoundary = b.U16(0x6A);
  p.eFuseWRMask2 = b.U8(0x6C);

  p.eFuseRDcmd0 = b.I32(0x6D);
  p.eFuseRDadr0 = b.U8(0x71);
  p.eCalByteNum = b.U8(0x72);
  p.eCalByteAddr = b.U16(0x73);
  p.eFuseRDMask0 = b.U8(0x75);

  p.eFuseRDcmd1 = b.I32(0x76);
  p.eFuseRDadr1 = b.U8(0x7A);
  p.eByte4 = b.U8(0x7B);
  p.eBootID = b.U16(0x7C);
  p.eFuseRDMask1 = b.U8(0x7E);

  p.eFuseRDcmd2 = b.I32(0x7F);
  p.eFuseRDadr2 = b.U8(0x83);
  p.eByte5 = b.U8(0x84);
  p.eWord5 = b.U16(0x85);
  p.eFuseRDMask2 = b.U8(0x87);
}

// The lock bit commands, the special command and the options after them.
void ReadLockAndLaterFields(const Bytes& b, ParamSet& p) {
  p.eLockWRcmd0 = b.I32(0x88);
  p.eLockWRadr0 = b.U8(0x8C);
  p.eNoLockDev = b.Bool(0x8D);
  p.eWord6 = b.U16(0x8E);
  p.eLockWRMask0 = b.U8(0x90);

  p.eLockRDcmd0 = b.I32(0x91);
  p.eLockRDadr0 = b.U8(0x95);
  p.eByte7 = b.U8(0x96);
  p.eWord7 = b.U16(0x97);
  p.eLockRDMask0 = b.U8(0x99);

  p.eSpecialAdr0 = b.U8(0x9A);
  p.eSpecialMask = b.U8(0x9B);
  p.eSpecialCmd0 = b.I32(0x9C);
  p.ePWRdownWait = b.I32(0xA0);
  p.eCreateDate = b.I32(0xA4);
  // 0xA8..0xB6: a 4-byte field and an 11-byte text slot that nothing interprets.
  p.eWriteCalByte = b.Bool(0xB7);
  p.eKillRC = b.Bool(0xB8);
  p.eRestoreEEp = b.Bool(0xB9);
  p.eFuseBits2 = b.U8(0xBA);
  p.eJtag = b.Bool(0xBB);
  p.eJTAGmode = b.Bool(0xBC);
  p.eVoltage = b.U16(0xBD);
  p.eEEpage = b.U8(0xBF);
  p.eProgChkSum = b.Bool(0xC0);
  p.eJTAGN = b.Bool(0xC1);
  p.eReserved14 = b.U8(0xC2);
}

// Reads the fields of the parameter block in their order; an error part-way leaves the fields
// before it set.
void ReadParams(const Bytes& b, ParamSet& p) {
  ReadProjectFields(b, p);
  ReadFuseFields(b, p);
  ReadLockAndLaterFields(b, p);
}

// Copies `count` - 1 bytes at `offset` to the start of `buffer`, yielding after each byte. The
// range must lie in the file; bytes past the buffer's end are an error after the buffer is full.
// `copied` is set once the range has passed its check.
void CopyImage(const Bytes& file, int64_t offset, int32_t count, std::vector<uint8_t>& buffer,
               const char* what, EventLoop& loop, bool& copied) {
  const int64_t length = static_cast<int64_t>(count) - 1;
  const Bytes image = file.Sub(offset, length, what);
  copied = true;
  const int64_t fits = std::min<int64_t>(length, static_cast<int64_t>(buffer.size()));
  for (int64_t i = 0; i < fits; ++i) {
    buffer[static_cast<size_t>(i)] = image.Data()[i];
    loop.yield();
  }
  if (length > fits)
    throw RuntimeError(std::string("Out of bounds: the ") + what + " of " + std::to_string(length) +
                       " bytes is longer than its buffer of " + std::to_string(buffer.size()) + " bytes");
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Steps after the file is open; false after a read error. `copied` tells the caller which images
// were really copied, `skipped` that the pack was not read (it got its report already).
bool ParseFile(std::FILE* file, const ReadBytes& readBytes, const std::filesystem::path& name,
               int64_t fileLength, ImageBuffers& g, ParamSet& params, Diagnostics& found, EventLoop& loop,
               bool& flashCopied, bool& eepromCopied, bool& skipped, std::optional<FileSeen>& seen) {
  const uint32_t n = static_cast<uint32_t>(fileLength);  // what the report names: the low 32 bits
  const std::string outOfMemory = "Out of memory (" + std::to_string(n) + ")";
  // The file is read in one piece; a file too large to hold gets the report and is not used.
  std::vector<uint8_t> content;
  try {
    if (fileLength > std::numeric_limits<int32_t>::max()) throw std::bad_alloc();
    content.resize(static_cast<size_t>(fileLength));
  } catch (const std::bad_alloc&) {
    // Not a usable pack, but nothing failed to read either: its one report is this one.
    raiseExc(found, DiagnosticCode::OutOfMemory, outOfMemory, name);
    skipped = true;
    return true;
  }
  const size_t got = content.empty() ? 0
                     : readBytes     ? readBytes(file, content.data(), content.size())
                                     : std::fread(content.data(), 1, content.size(), file);
  const bool readError = std::ferror(file) != 0 || got != content.size();
  content.resize(got);
  seen = FileSeen{name, content.size(),
                  Sha256Hex(std::string_view(reinterpret_cast<const char*>(content.data()), content.size()))};

  const Bytes bytes(content.data(), static_cast<int64_t>(content.size()), "pack file");
  const Bytes header = bytes.Sub(0, kHeaderSize, "header");
  const int64_t paramOffset = header.U32(0x00);
  const int32_t paramLength = header.I32(0x04);
  const int64_t flashOffset = header.I32(0x08);
  const int32_t flashCount = header.I32(0x0C);
  const int64_t eepromOffset = header.I32(0x10);
  const int32_t eepromCount = header.I32(0x14);
  g.FBytesRead = flashCount;
  g.EBytesRead = eepromCount;

  if (paramLength < 0) {
    // Nothing of this pack was read: it must not pass as loaded, or the loader would take the
    // expected IDs from a parameter set that still holds an earlier file's values.
    raiseExc(found, DiagnosticCode::OutOfMemory, outOfMemory, name);
    skipped = true;
  } else {
    ReadParams(bytes.Sub(paramOffset, paramLength, "parameter block"), params);
    if (flashCount > 0) {
      g.FBytesRead = flashCount - 1;
      CopyImage(bytes, flashOffset, flashCount, g.FlashArr, "flash image", loop, flashCopied);
    }
    if (eepromCount > 0) {
      g.EBytesRead = eepromCount - 1;
      CopyImage(bytes, eepromOffset, eepromCount, g.EEpromArr, "EEPROM image", loop, eepromCopied);
    }
  }
  return !readError;
}

}  // namespace

PackRead LoadPackFile(const std::string& path, ImageBuffers& g, ParamSet& params, Diagnostics& found,
                      EventLoop& loop, const ReadBytes& readBytes) {
  PackRead read;
  bool flashCopied = false;
  bool eepromCopied = false;
  bool skipped = false;
  try {
    const TextFile::Chosen chosen = TextFile::Choose(path, found, kOrigin);
    read.file = chosen.file;
    if (!chosen.goOn) return read;
    std::error_code ec;
    std::unique_ptr<std::FILE, FileCloser> file(OpenForReading(*read.file));
    if (!file) {
      raiseExc(found, DiagnosticCode::OpenFailed, "Open failed", read.file);
      return read;
    }
    const auto size = std::filesystem::file_size(*read.file, ec);
    const bool ok = ParseFile(file.get(), readBytes, *read.file, ec ? 0 : static_cast<int64_t>(size), g,
                              params, found, loop, flashCopied, eepromCopied, skipped, read.seen);
    file.reset();
    // An image that was not copied counts nothing, whatever the header said; nor does one from
    // a pack whose read failed, since its IDs were never taken over.
    if (!flashCopied || !ok) g.FBytesRead = 0;
    if (!eepromCopied || !ok) g.EBytesRead = 0;
    if (!ok) raiseExc(found, DiagnosticCode::ReadFailed, "Read failed", read.file);
    read.ok = ok && !skipped;
    return read;
  } catch (...) {
    if (!flashCopied) g.FBytesRead = 0;
    if (!eepromCopied) g.EBytesRead = 0;
    RuntimeExceptionPlus::Cascade(std::current_exception(), "dParamList.LoadPackFile");
  }
}

bool LoadEncFile(const std::string&) { return false; }

}  // namespace bm::dParamList
