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

}  // namespace vesk
