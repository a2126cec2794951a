// The value rules of project (.ppro) files, apart from the file itself.
//
// A key line is key + "=" + value; its value text is what lies between the first and the second
// "=" (blanks kept), with a leading "$" rewritten to "&h". Val turns such a text into a number
// the way the project files were always read: blanks skipped, "&h" means hexadecimal, reading
// stops at the first character that is not part of the number, no number gives 0.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace bm::ProjectFile {

// The value text of a key line, after the "$" rewrite.
std::string ValueText(std::string_view line);

// The number in `text`. Hexadecimal keeps the low 32 bits (&hFFFFFFFF is -1); decimal is
// clamped to the 32-bit range.
int32_t Val(std::string_view text);

// The upper-case hexadecimal text of a 32-bit value, no leading zeros.
std::string Hex(int32_t value);

// The image paths next to a project: the first ".ppro" (any case) replaced by ".hex", and the
// first ".hex" (any case) replaced by ".eep". The path is returned unchanged when it holds none.
std::string ReplaceFirstNoCase(std::string_view path, std::string_view from, std::string_view to);

}  // namespace bm::ProjectFile
