#pragma once
// Text at the Windows boundary: the system speaks UTF-16, vesk UTF-8.

#include <optional>
#include <string>
#include <string_view>

namespace vesk {

// nullopt when `text` is not valid UTF-8.
std::optional<std::wstring> to_utf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string to_utf8(std::wstring_view text);
// The same, but an unpaired surrogate keeps its value as the three bytes UTF-8 would give
// it: text that is not valid UTF-8, which every check for UTF-8 refuses, instead of a
// different valid text. For words that may name files (a command line's arguments).
std::string to_utf8_keeping_unpaired(std::wstring_view text);

}  // namespace vesk
