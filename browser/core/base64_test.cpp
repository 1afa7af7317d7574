#include "browser/core/base64.hpp"

#include "base/base64.hpp"

#include <gtest/gtest.h>

namespace vesk::browser {
namespace {

TEST(Base64, DecodesPaddedUnpaddedAndRejectsGarbage) {
  struct Case {
    std::string text;
    std::optional<std::string> bytes;
  };
  const Case cases[] = {
      {"", std::string()},
      {"TWFu", std::string("Man")},
      {"TWE=", std::string("Ma")},
      {"TQ==", std::string("M")},
      {"TQ", std::string("M")},
      {"TW Fu\nTWE=", std::string("ManMa")},
      {"TQ==TWFu", std::nullopt},  // data after padding
      {"TWFu\r\nTWFu", std::string("ManMan")},
      {"AP8A", std::string("\0\xff\0", 3)},
      {"T", std::nullopt},
      {"TW*u", std::nullopt},
      {"TQ===", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decode_base64(c.text), c.bytes) << c.text;
  }
}

TEST(Base64, DecodesWhatTheSharedEncoderWritesForEveryTailLengthAndByte) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  for (std::size_t length : {0, 1, 2, 3, 256}) {
    const std::string bytes = all.substr(0, length);
    EXPECT_EQ(decode_base64(base64_encode(bytes)), bytes) << length;
  }
}

}  // namespace
}  // namespace vesk::browser
