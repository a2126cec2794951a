#include "shell/win32/Text.h"

#include "shell/win32/Ui.h"

namespace bm::win32 {

std::wstring ToWide(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n > 0) {
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n);
    return wide;
  }
  std::wstring latin1;
  latin1.reserve(text.size());
  for (unsigned char c : text) latin1.push_back(static_cast<wchar_t>(c));
  return latin1;
}

std::string FromWide(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string narrow(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), n, nullptr, nullptr);
  return narrow;
}

std::string CaptionText(const std::string& text) {
  std::string shown;
  shown.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    shown.push_back(text[i]);
    if (text[i] == '&' && i + 1 < text.size() && text[i + 1] == '&') ++i;
  }
  return shown;
}

std::wstring WithCrLf(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out.push_back(L'\r');
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace bm::win32
