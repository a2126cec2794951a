#include "shell/core/StyledText.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

namespace bm {
namespace {

// Adds `text` in `style`, joined to the last run when that has the same style.
void Add(std::vector<StyledRun>& runs, const std::string& text, const StyledRun& style) {
  if (text.empty()) return;
  if (!runs.empty() && runs.back().bold == style.bold && runs.back().italic == style.italic &&
      runs.back().points == style.points) {
    runs.back().text += text;
    return;
  }
  StyledRun run = style;
  run.text = text;
  runs.push_back(std::move(run));
}

// The number between the tag's first two double quotes, or 0 when there is none.
double QuotedNumber(const std::string& tag) {
  const size_t open = tag.find('"');
  if (open == std::string::npos) return 0;
  const size_t close = tag.find('"', open + 1);
  if (close == std::string::npos) return 0;
  const std::string number = tag.substr(open + 1, close - open - 1);
  char* end = nullptr;
  const double value = std::strtod(number.c_str(), &end);
  while (end && *end == ' ') ++end;
  return end && *end == '\0' && !number.empty() ? value : 0;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Inline Markdown of one block: **bold**, *italic*, `code`.
void AddInline(std::vector<StyledRun>& runs, const std::string& text, StyledRun style) {
  std::string piece;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '`') {
      const size_t close = text.find('`', i + 1);
      if (close != std::string::npos) {
        piece += text.substr(i + 1, close - i - 1);
        i = close;
        continue;
      }
    } else if (c == '*' && i + 1 < text.size() && text[i + 1] == '*') {
      Add(runs, piece, style);
      piece.clear();
      style.bold = !style.bold;
      ++i;
      continue;
    } else if (c == '*' && (style.italic || (i + 1 < text.size() && text[i + 1] != ' '))) {
      Add(runs, piece, style);
      piece.clear();
      style.italic = !style.italic;
      continue;
    }
    piece.push_back(c);
  }
  Add(runs, piece, style);
}

std::string Trimmed(const std::string& line) {
  const size_t first = line.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return line.substr(first, line.find_last_not_of(' ') - first + 1);
}

// "1. " or "12. " at the start: the length of the marker, else 0.
size_t NumberMarker(const std::string& line) {
  size_t i = 0;
  while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) ++i;
  return i > 0 && line.compare(i, 2, ". ") == 0 ? i + 2 : 0;
}

}  // namespace

std::vector<StyledRun> CreditsRuns(const std::string& text, bool styled) {
  std::vector<StyledRun> runs;
  if (!styled) {
    Add(runs, text, {});
    return runs;
  }
  StyledRun style;
  double remembered = 0;  // the size before the latest <font>
  size_t at = 0;
  for (;;) {
    const size_t open = text.find('<', at);
    if (open == std::string::npos) break;
    const size_t close = text.find('>', open);
    if (close == std::string::npos) break;  // no closing ">": the rest stands as it is
    Add(runs, text.substr(at, open - at), style);
    const std::string tag = text.substr(open + 1, close - open - 1);
    const std::string name = Lower(tag.substr(0, tag.find(' ')));
    if (name == "b" || name == "/b") {
      style.bold = name == "b";
    } else if (name == "i" || name == "/i") {
      style.italic = name == "i";
    } else if (name == "font") {
      remembered = style.points;
      const double size = QuotedNumber(tag);
      if (size > 0) style.points = size;  // a size that is no number styles nothing
    } else if (name == "/font") {
      style.points = remembered;
    }
    at = close + 1;
  }
  Add(runs, text.substr(at), style);
  return runs;
}

std::vector<StyledRun> MarkdownRuns(const std::string& markdown) {
  std::vector<StyledRun> runs;
  std::istringstream lines(markdown);
  std::string block;       // the paragraph or item being gathered
  std::string marker;      // its list marker ("• ", "1. "), or none
  bool inList = false;     // the block is a list item
  bool afterList = false;  // the last block ended a list item
  const auto flush = [&] {
    if (block.empty()) return;
    if (!inList && afterList) Add(runs, "\n", {});  // the list above ends
    Add(runs, marker, {});
    AddInline(runs, block, {});
    Add(runs, inList ? "\n" : "\n\n", {});
    afterList = inList;
    block.clear();
    marker.clear();
  };
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string text = Trimmed(line);
    if (text.empty()) {
      flush();
      inList = false;
      continue;
    }
    const size_t hashes = text.find_first_not_of('#');
    if (hashes > 0 && hashes != std::string::npos && text[hashes] == ' ') {
      flush();
      if (afterList) Add(runs, "\n", {});
      afterList = inList = false;
      StyledRun heading;
      heading.bold = true;
      heading.points = hashes == 1 ? 14 : 11;
      AddInline(runs, text.substr(hashes + 1), heading);
      Add(runs, "\n\n", {});
      continue;
    }
    const bool bullet = text.size() > 2 && (text[0] == '*' || text[0] == '-') && text[1] == ' ';
    const size_t number = NumberMarker(text);
    if (bullet || number > 0) {
      flush();
      inList = true;
      marker = bullet ? "\xE2\x80\xA2 " : text.substr(0, number);
      block = text.substr(bullet ? 2 : number);
      continue;
    }
    block += (block.empty() ? "" : " ") + text;
  }
  flush();
  if (afterList) Add(runs, "\n", {});
  return runs;
}

std::string PlainText(const std::vector<StyledRun>& runs) {
  std::string text;
  for (const StyledRun& run : runs) text += run.text;
  return text;
}

}  // namespace bm
