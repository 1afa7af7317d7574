#include "base/utf8.hpp"

namespace vesk {

std::size_t utf8_sequence_length(std::string_view bytes, std::size_t i) {
  const auto c = static_cast<unsigned char>(bytes[i]);
  if (c < 0x80) return 1;
  size_t len;
  unsigned min;
  unsigned cp;
  if ((c & 0xE0) == 0xC0) {
    len = 2, min = 0x80, cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, min = 0x800, cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, min = 0x10000, cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + len > bytes.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto cc = static_cast<unsigned char>(bytes[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace vesk
