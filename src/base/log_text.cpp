#include "base/log_text.hpp"

#include "base/utf8.hpp"

namespace vesk {

std::string escape_log_text(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string escaped;
  escaped.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const std::size_t length = utf8_sequence_length(text, i);
    if (length > 1 || (length == 1 && byte >= 0x20 && byte != 0x7F)) {
      escaped.append(text.substr(i, length));
      i += length;
      continue;
    }
    switch (byte) {
      case '\n': escaped += "\\n"; break;
      case '\r': escaped += "\\r"; break;
      case '\t': escaped += "\\t"; break;
      default:
        escaped += "\\x";
        escaped += kHex[byte >> 4];
        escaped += kHex[byte & 0xF];
    }
    ++i;
  }
  return escaped;
}

}  // namespace vesk
