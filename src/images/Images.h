// What a load produces: the two image buffers with their ends, and what the loaded file expects
// of the target. The readers fill them; the download and erase runs read them.
//
// The buffers are allocated once at their full size and never resized, so every index below
// their size is always valid.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/Prefault.h"

namespace bm {

inline constexpr int kFlashSize = 0x40000;   // 262,144 bytes
inline constexpr int kEepromSize = 0x10000;  // 65,536 bytes

struct ImageBuffers {
  std::vector<uint8_t> FlashArr = ZeroedBytes(kFlashSize);
  std::vector<uint8_t> EEpromArr = ZeroedBytes(kEepromSize);

  int32_t FBytesRead = 0;  // end of the loaded flash image (0 = none)
  int32_t EBytesRead = 0;  // end of the loaded EEPROM image (0 = none)
};

// A file as a reader took it: the size and the SHA-256 of the very bytes it used, so a stamp or
// a hash never describes a file rebuilt after the reader read it.
struct FileSeen {
  std::filesystem::path path;
  uintmax_t size = 0;
  std::string sha256;
};

struct ExpectedIds {
  int32_t OrgID = 0;      // expected device signature; 0 or less = not compared
  int32_t OrgBootID = 0;  // expected loader ID; negative = not asked for
  int32_t OrgEEpEnd = 0;  // EEPROM download limit; 0 or less = none
};

// The line buffer `st`: the text file read last, held once, and its lines as views into it
// (without line ends). The HEX reader and the project reader clear and refill it; the project's
// key lookup searches it. A line's view stays valid until the buffer is refilled, cleared or
// destroyed.
//
// LF, CRLF and CR all end a line (HEX files come from every kind of tool). A final line end does
// not start another line; a text without characters gives one empty line, so a reader always has
// at least one line to look at.
class LineBuffer {
 public:
  // The longest text the buffer holds: line positions are kept in 32 bits.
  static constexpr size_t kMaxText = UINT32_MAX;

  LineBuffer() = default;
  // These lines, as a text with one LF after each.
  LineBuffer(std::initializer_list<std::string_view> lines) {
    for (std::string_view line : lines) {
      text_.append(line);
      text_ += '\n';
    }
    Split([] {});
  }

  // Takes `text` (at most kMaxText characters; std::length_error otherwise) and splits it;
  // `perLine` runs after each line found (the readers yield there).
  template <class PerLine>
  void Assign(std::string text, PerLine&& perLine) {
    if (text.size() > kMaxText) throw std::length_error("LineBuffer: text too long");
    text_ = std::move(text);
    Split(perLine);
  }
  void Assign(std::string text) {
    Assign(std::move(text), [] {});
  }
  void clear() {
    text_.clear();
    lines_.clear();
  }

  size_t size() const { return lines_.size(); }
  bool empty() const { return lines_.empty(); }
  std::string_view operator[](size_t i) const { return {text_.data() + lines_[i].start, lines_[i].size}; }
  // Forgets the first `count` lines (the text stays).
  void DropFront(size_t count) {
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(std::min(count, size())));
  }

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::string_view;

    const_iterator() = default;
    std::string_view operator*() const { return (*buffer_)[index_]; }
    const_iterator& operator++() {
      ++index_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++index_;
      return before;
    }
    bool operator==(const const_iterator& other) const = default;

   private:
    friend class LineBuffer;
    const_iterator(const LineBuffer* buffer, size_t index) : buffer_(buffer), index_(index) {}
    const LineBuffer* buffer_ = nullptr;
    size_t index_ = 0;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size()}; }

 private:
  struct Line {
    uint32_t start;
    uint32_t size;
  };

  template <class PerLine>
  void Split(PerLine&& perLine) {
    lines_.clear();
    // A HEX file's records are some 44 characters long: a close guess saves the regrowing.
    lines_.reserve(text_.size() / 40 + 1);
    PrefaultForWrite(lines_.data(), lines_.capacity() * sizeof(Line));
    const char* const text = text_.data();
    const size_t length = text_.size();
    // The next LF and the next CR at or after `start`, each looked up again only once passed,
    // so a text with only one kind of line end is still read once (memchr is the fast scan).
    auto next = [text, length](char c, size_t from) {
      const void* found = std::memchr(text + from, c, length - from);
      return found ? static_cast<size_t>(static_cast<const char*>(found) - text) : length;
    };
    size_t start = 0;
    size_t lf = next('\n', 0), cr = next('\r', 0);
    while (start < length) {
      if (lf < start) lf = next('\n', start);
      if (cr < start) cr = next('\r', start);
      const size_t end = std::min(lf, cr);
      if (end == length) break;
      lines_.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(end - start)});
      perLine();
      start = end + ((end == cr && end + 1 < length && text[end + 1] == '\n') ? 2 : 1);
    }
    if (start < length || lines_.empty()) {
      lines_.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(length - start)});
      perLine();
    }
  }

  std::string text_;
  std::vector<Line> lines_;
};

}  // namespace bm
