#include "images/UHexLoad.h"

#include <array>
#include <string_view>

#include "base/FileError.h"
#include "base/HexText.h"
#include "base/RuntimeExceptionPlus.h"
#include "base/Sha256.h"
#include "base/Util.h"
#include "images/TextFile.h"

namespace bm::UHexLoad {
namespace {

// The reader's state for one call.
class Reader {
 public:
  Reader(bool toEEPROM, ImageBuffers& images, LineBuffer& st, Diagnostics& found, EventLoop& loop,
         const std::optional<std::filesystem::path>& file)
      : toEEPROM_(toEEPROM), g_(images), st_(st), found_(found), loop_(loop), file_(file) {}

  HexRead Run();

 private:
  // The field reader: `width` characters at position n of the current line (fewer when the line
  // ends sooner, none past its end, which reads as 0).
  uint16_t gethex(int width);
  // gethex(2), read directly when both characters are hex digits: this runs once per data byte.
  uint16_t getbyte() {
    const size_t start = static_cast<size_t>(n - 1);
    if (start + 2 <= line_.size()) {
      const int high = HexDigitValue(line_[start]);
      const int low = HexDigitValue(line_[start + 1]);
      if ((high | low) >= 0) {
        const auto value = static_cast<uint16_t>(high * 16 + low);
        n += 2;
        chk = static_cast<uint8_t>(chk + value);
        return value;
      }
    }
    return gethex(2);
  }
  [[gnu::noinline]] uint16_t FieldError() {
    Report("Error in Hex-File!");
    fault = true;
    ready = true;
    return 0;
  }
  // A format error: its message, the line, and the file in the file-error report's form.
  void Report(const char* text) {
    damaged = true;
    Tell(DiagnosticKind::Error, DiagnosticCode::FormatError, text);
  }
  void Tell(DiagnosticKind kind, DiagnosticCode code, const char* text) {
    std::string message = std::string(text) + "\nat Line:" + std::to_string(zeile + 1);
    if (file_) message += "\n (file: " + file_->filename().string() + ")";
    found_.push_back({kind, code, std::move(message)});
  }
  void Store(int32_t address, uint8_t value);
  // One record, the one on line_; false when the reading stops.
  bool Record();

  const bool toEEPROM_;
  ImageBuffers& g_;
  LineBuffer& st_;
  Diagnostics& found_;
  EventLoop& loop_;
  const std::optional<std::filesystem::path>& file_;

  size_t zeile = 0;
  std::string_view line_;  // st_[zeile]
  int64_t n = 2;           // 1-based read position; goes on across lines without ':'
  uint8_t chk = 0;
  int64_t base = 0;  // from the latest type 02 or 04 record; 0xFFFF << 16 must not wrap
  uint8_t anz = 0;
  int32_t adr = 0;
  uint8_t typ = 0;
  bool fault = false;
  bool ready = false;
  bool damaged = false;  // a format error stopped the reading
  int32_t result = 0;
};

uint16_t Reader::gethex(int width) {
  std::string_view field;
  const size_t start = static_cast<size_t>(n - 1);
  if (start < line_.size()) field = line_.substr(start, static_cast<size_t>(width));
  // The same test as Util::IsValidHex (an optional "&h", then hex digits or nothing), done while
  // taking the value.
  if (field.size() >= 2 && field[0] == '&' && (field[1] == 'h' || field[1] == 'H')) field.remove_prefix(2);
  uint16_t value = 0;
  for (char c : field) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return FieldError();
    value = static_cast<uint16_t>(value * 16 + digit);
  }
  n += width;
  chk = static_cast<uint8_t>(chk + Util::lo(value) + Util::hi(value));
  return value;
}

void Reader::Store(int32_t address, uint8_t value) {
  if (!toEEPROM_) {
    g_.FlashArr[static_cast<size_t>(address)] = value;  // address <= kMaxAddress here
    return;
  }
  if (address >= static_cast<int32_t>(g_.EEpromArr.size()))
    throw RuntimeError("Out of bounds: EEPROM address &h" + HexNumber(static_cast<uint32_t>(address)));
  g_.EEpromArr[static_cast<size_t>(address)] = value;
}

bool Reader::Record() {
  if (!line_.empty() && line_[0] == ':') n = 2;
  anz = static_cast<uint8_t>(getbyte());
  if (fault) return false;
  const int64_t start = gethex(4) + base;
  if (fault) return false;
  if (start > kMaxAddress) {
    Report("Buffer overflow!");
    return false;
  }
  adr = static_cast<int32_t>(start);
  typ = static_cast<uint8_t>(getbyte());
  if (fault) return false;
  switch (typ) {
    case 0x00:
      for (int i = 1; i <= anz; ++i) {
        const uint16_t value = getbyte();
        Store(adr, Util::lo(value));
        if (fault) return false;
        ++adr;
        if (adr > kMaxAddress && i < anz) {
          Report("Buffer overflow ");
          return false;
        }
        loop_.yield();
      }
      // A record without bytes still moves the image end; an EEPROM image cannot end past its
      // buffer, or the download would read beyond it.
      if (toEEPROM_ && adr > static_cast<int32_t>(g_.EEpromArr.size()))
        throw RuntimeError("Out of bounds: EEPROM address &h" + HexNumber(static_cast<uint32_t>(adr)));
      if (adr > result) result = adr;
      break;
    case 0x01:
      ready = true;
      break;
    // Either base record replaces the other: 02 gives 16 x segment, 04 the upper 16 bits.
    case 0x02:
      base = int64_t{16} * gethex(4);
      if (fault) return false;
      break;
    case 0x04:
      base = int64_t{gethex(4)} << 16;
      if (fault) return false;
      break;
    case 0x03:  // start addresses mean nothing to a bootloader: only the checksum needs the bytes
    case 0x05:
      for (int i = 1; i <= anz; ++i) {
        getbyte();
        if (fault) return false;
        loop_.yield();
      }
      break;
    default:
      Report("Error in Hex-File!");
      return false;
  }
  getbyte();  // the checksum; a broken field still gets the sum test below
  if (chk != 0) {
    Report("checksum error!");
    return false;
  }
  return !fault;
}

HexRead Reader::Run() {
  size_t leading = 0;
  while (leading < st_.size() && st_[leading].empty()) ++leading;
  st_.DropFront(leading);

  for (zeile = 0; zeile < st_.size(); ++zeile) {
    line_ = st_[zeile];
    if (!Record()) return {result, file_, damaged, false, std::nullopt};
    loop_.yield();
  }
  if (!ready) {
    zeile = st_.empty() ? 0 : st_.size() - 1;
    // Some tools leave it out: the image stays usable.
    Tell(DiagnosticKind::Warning, DiagnosticCode::EndOfFileMissing, "End of file record missing!");
  }
  return {result, file_, damaged, false, std::nullopt};
}

}  // namespace

void raiseExc(Diagnostics& found, DiagnosticCode code, const std::string& message,
              const std::optional<std::filesystem::path>& file) {
  FileError::Constructor(found, code, message, "UHexLoad", file);
}

HexRead ProcessLines(bool toEEPROM, ImageBuffers& images, LineBuffer& st, Diagnostics& found, EventLoop& loop,
                     const std::optional<std::filesystem::path>& file) {
  return Reader(toEEPROM, images, st, found, loop, file).Run();
}

HexRead IntelHex(const std::string& path, bool toEEPROM, ImageBuffers& images, LineBuffer& st,
                 Diagnostics& found, EventLoop& loop) {
  HexRead read;
  st.clear();
  const TextFile::Chosen chosen = TextFile::Choose(path, found, "UHexLoad");
  read.file = chosen.file;
  if (!chosen.goOn) return read;
  std::error_code ec;
  std::optional<std::string> text = TextFile::ReadAll(*read.file);
  if (!text) {
    read.missing = !std::filesystem::exists(*read.file, ec);
    raiseExc(found, DiagnosticCode::OpenFailed, "Open failed", read.file);
    return read;
  }
  const FileSeen seen{*read.file, text->size(), Sha256Hex(*text)};
  st.Assign(std::move(*text), [&] { loop.yield(); });
  HexRead processed = ProcessLines(toEEPROM, images, st, found, loop, read.file);
  processed.seen = seen;
  return processed;
}

}  // namespace bm::UHexLoad
