#include "base/base64.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

namespace vesk {
namespace {

TEST(Base64, IsStandardWithPadding) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {std::string("\xfb\xff\x00", 3), "+/8A"}};
  for (const auto& [bytes, text] : cases) EXPECT_EQ(base64_encode(bytes), text);
}

// The encoding spelled out six bits at a time, as the standard defines it: the table
// encoder must agree with it for every length and every byte value.
std::string base64_by_bits(std::string_view input) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  unsigned bits = 0;
  int held = 0;
  for (const char c : input) {
    bits = (bits << 8) | static_cast<unsigned char>(c);
    held += 8;
    while (held >= 6) {
      held -= 6;
      text += kDigits[(bits >> held) & 0x3F];
    }
  }
  if (held > 0) text += kDigits[(bits << (6 - held)) & 0x3F];
  while (text.size() % 4 != 0) text += '=';
  return text;
}

TEST(Base64, AgreesWithTheBitwiseEncodingForEveryLengthAndByte) {
  std::string bytes;
  for (int i = 0; i < 300; ++i) bytes += static_cast<char>((i * 151 + 7) & 0xFF);  // every byte value
  for (size_t length = 0; length <= bytes.size(); ++length) {
    const std::string_view input(bytes.data(), length);
    ASSERT_EQ(base64_encode(input), base64_by_bits(input)) << length;
  }
}

}  // namespace
}  // namespace vesk
