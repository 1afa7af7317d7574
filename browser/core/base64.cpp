#include "browser/core/base64.hpp"

#include <array>

namespace vesk::browser {

std::optional<std::string> decode_base64(std::string_view text) {
  static const std::array<int, 256> values = [] {
    std::array<int, 256> v{};
    v.fill(-1);
    const std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < alphabet.size(); ++i) v[static_cast<unsigned char>(alphabet[i])] = static_cast<int>(i);
    return v;
  }();
  std::string out;
  out.reserve(text.size() / 4 * 3);
  unsigned buffer = 0;
  int bits = 0;
  std::size_t padding = 0;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    if (padding > 0) return std::nullopt;  // data after padding
    const int value = values[static_cast<unsigned char>(c)];
    if (value < 0) return std::nullopt;
    buffer = (buffer << 6) | static_cast<unsigned>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
    }
  }
  // A lone leftover character cannot encode a byte.
  if (bits >= 6 || padding > 2) return std::nullopt;
  return out;
}

}  // namespace vesk::browser
