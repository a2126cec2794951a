// The file dialog's filter from the file kinds the presenter asks for: all supported kinds
// together first, each kind in plain words, every file last, each extension once.
#include <gtest/gtest.h>

#include "platform/win32/Win32Dialogs.h"

namespace bm::win32 {
namespace {

TEST(Win32Dialogs, TheFilterOffersEachKindInPlainWords) {
  const std::vector<FileKind> kinds{
      {"qorm/hex", "HEX", {"hex", "HEX"}, "Intel HEX flash image"},
      {"qorm/eep", "EEP", {"eep", "EEP"}, "Intel HEX EEPROM image"},
      {"qorm/ppro", "PPRO", {"ppro", "PPRO"}, "Project"},
      {"qorm/pack", "PACK", {"pac", "PAC", "pack", "PACK"}, "Pack file"},
  };
  using Pair = std::pair<std::string, std::string>;
  EXPECT_EQ(Win32Dialogs::Filter(kinds),
            (std::vector<Pair>{
                {"All supported files (*.hex;*.eep;*.ppro;*.pac;*.pack)", "*.hex;*.eep;*.ppro;*.pac;*.pack"},
                {"Intel HEX flash image (*.hex)", "*.hex"},
                {"Intel HEX EEPROM image (*.eep)", "*.eep"},
                {"Project (*.ppro)", "*.ppro"},
                {"Pack file (*.pac;*.pack)", "*.pac;*.pack"},
                {"All files (*.*)", "*.*"}}));
  // As the API takes it: NUL after each string, another at the end.
  // As the API takes it: a NUL after each string, another at the end (the literal's own); a
  // kind without words is named by its name.
  const wchar_t expected[] = L"All supported files (*.bin)\0*.bin\0k (*.bin)\0*.bin\0All files (*.*)\0*.*\0";
  EXPECT_EQ(Win32Dialogs::FilterText({{"k", "K", {"bin", "BIN"}, ""}}),
            std::wstring(expected, std::size(expected)));
}

}  // namespace
}  // namespace bm::win32
