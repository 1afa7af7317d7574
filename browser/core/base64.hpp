#pragma once
// Decoding standard base64 (RFC 4648 alphabet, "=" padding), as Chromium sends PDF and
// screenshot data and as the command line sends upload contents; base/base64.hpp encodes.

#include <optional>
#include <string>
#include <string_view>

namespace vesk::browser {

// The decoded bytes, or nullopt for text that is not base64. White space is skipped;
// missing padding is accepted.
std::optional<std::string> decode_base64(std::string_view text);

}  // namespace vesk::browser
