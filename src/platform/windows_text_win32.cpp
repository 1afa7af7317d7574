#include <windows.h>

#include "platform/windows_text.hpp"

namespace vesk {

std::optional<std::wstring> to_utf16(std::string_view text) {
  if (text.empty()) return std::wstring();
  const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
  return wide;
}

std::string to_utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                        nullptr);
  return narrow;
}

std::string to_utf8_keeping_unpaired(std::wstring_view text) {
  std::string out;
  std::size_t start = 0;  // the run of well-formed text not yet converted
  const auto flush = [&](std::size_t end) {
    out += to_utf8(text.substr(start, end - start));
    start = end;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto unit = static_cast<unsigned>(text[i]);
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;  // a pair: well formed
      continue;
    }
    if (!high && !low) continue;
    flush(i);
    out += static_cast<char>(0xE0 | (unit >> 12));
    out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (unit & 0x3F));
    start = i + 1;
  }
  flush(text.size());
  return out;
}

}  // namespace vesk
