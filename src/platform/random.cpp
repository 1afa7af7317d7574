#include "platform/random.hpp"

#include <array>

namespace vesk {

std::string random_text(std::string_view alphabet, std::size_t length) {
  // Bytes at or above the largest multiple of the alphabet size are redrawn, so every
  // character is equally likely.
  const std::size_t size = alphabet.size();
  const std::size_t accepted_below = 256 - 256 % size;
  std::string text;
  text.reserve(length);
  std::array<unsigned char, 64> pool{};
  std::size_t next = pool.size();
  while (text.size() < length) {
    if (next == pool.size()) {
      fill_random_bytes(pool);
      next = 0;
    }
    const unsigned char byte = pool[next++];
    if (byte < accepted_below) text += alphabet[byte % size];
  }
  return text;
}

}  // namespace vesk
