#include "base/base64.hpp"

#include <array>
#include <cstdint>
#include <cstring>

namespace vesk {

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The two output characters of every 12-bit half of a 3-byte group.
constexpr std::array<char, 8192> kBase64Pairs = [] {
  std::array<char, 8192> pairs{};
  for (std::size_t i = 0; i < 4096; ++i) {
    pairs[2 * i] = kBase64Alphabet[i >> 6];
    pairs[2 * i + 1] = kBase64Alphabet[i & 0x3F];
  }
  return pairs;
}();

}  // namespace

// A table encoder: libsodium's encoder runs in constant time, which makes a large upload
// several times slower, and file contents need no side-channel care.
void base64_encode_into(std::string_view bytes, char* out) {
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t whole = bytes.size() / 3 * 3;
  std::size_t i = 0;
  for (; i < whole; i += 3) {
    const std::uint32_t group = (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | in[i + 2];
    std::memcpy(out, &kBase64Pairs[2 * (group >> 12)], 2);
    std::memcpy(out + 2, &kBase64Pairs[2 * (group & 0xFFF)], 2);
    out += 4;
  }
  if (const std::size_t rest = bytes.size() - whole; rest > 0) {
    const std::uint32_t group = (std::uint32_t{in[i]} << 16) | (rest == 2 ? std::uint32_t{in[i + 1]} << 8 : 0);
    *out++ = kBase64Alphabet[group >> 18];
    *out++ = kBase64Alphabet[(group >> 12) & 0x3F];
    *out++ = rest == 2 ? kBase64Alphabet[(group >> 6) & 0x3F] : '=';
    *out++ = '=';
  }
}

std::string base64_encode(std::string_view bytes) {
  const std::size_t encoded_size = base64_size(bytes.size());
  std::string text;
  // The size argument of the callback is not used: g++ 12's library passes the new
  // capacity there when a short string grows.
  text.resize_and_overwrite(encoded_size, [&](char* out, std::size_t) {
    base64_encode_into(bytes, out);
    return encoded_size;
  });
  return text;
}

}  // namespace vesk
