#pragma once
// Standard base64 (RFC 4648 alphabet, "=" padding, no line breaks), as messages carry file
// contents.

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk {

// The length of the base64 text of `byte_count` bytes.
constexpr std::size_t base64_size(std::size_t byte_count) { return (byte_count + 2) / 3 * 4; }
// Writes the base64 text of `bytes` (base64_size(bytes.size()) characters) at `out`.
void base64_encode_into(std::string_view bytes, char* out);
std::string base64_encode(std::string_view bytes);

}  // namespace vesk
