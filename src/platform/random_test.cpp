#include "platform/random.hpp"

#include <gtest/gtest.h>

#include <array>
#include <map>

namespace vesk {
namespace {

TEST(RandomBytes, FillsEveryByteAndDiffersBetweenCalls) {
  std::array<unsigned char, 4096> first{};
  std::array<unsigned char, 4096> second{};
  fill_random_bytes(first);
  fill_random_bytes(second);
  EXPECT_NE(first, second);
  // Every byte written: over 4096 bytes, each of 256 values is expected about 16 times.
  std::array<int, 256> counts{};
  for (const unsigned char byte : first) ++counts[byte];
  int unseen = 0;
  for (const int count : counts) unseen += count == 0 ? 1 : 0;
  EXPECT_LT(unseen, 5);
}

// With 200 characters, folding every byte in by modulo would make the first 56 characters
// twice as likely as the others; redrawing keeps them all equally likely.
TEST(RandomText, DrawsUniformlyFromTheAlphabet) {
  std::string alphabet;
  for (int i = 0; i < 200; ++i) alphabet += static_cast<char>(i + 32);  // 200 distinct bytes
  const std::string text = random_text(alphabet, 200 * 200);
  ASSERT_EQ(text.size(), 200u * 200u);
  std::map<char, long> counts;
  for (const char c : text) ++counts[c];
  long low = 0;
  long high = 0;
  for (const auto& [c, count] : counts) {
    const int index = static_cast<int>(static_cast<unsigned char>(c)) - 32;
    ASSERT_TRUE(index >= 0 && index < 200);
    (index < 56 ? low : high) += count;
  }
  // Uniform: the first 56 take 56/200 = 0.28 of the draws; folding by modulo gives 112/256.
  const double low_share = static_cast<double>(low) / static_cast<double>(low + high);
  EXPECT_NEAR(low_share, 0.28, 0.02);
}

}  // namespace
}  // namespace vesk
