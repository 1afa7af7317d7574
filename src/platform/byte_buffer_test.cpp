#include "platform/byte_buffer.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vesk {
namespace {

// Appends `text` the way a receive does: make room, write past the end, commit.
void append(ByteBuffer& buffer, std::string_view text) {
  ASSERT_TRUE(buffer.reserve_extra(text.size()));
  std::copy(text.begin(), text.end(), buffer.data() + buffer.size());
  buffer.commit(text.size());
}

// Growth from the heap into a mapping of its own and back must never lose or reorder bytes.
TEST(ByteBuffer, KeepsItsContentsThroughGrowthDropAndShrink) {
  ByteBuffer buffer;
  std::string expected;
  for (int i = 0; expected.size() < (40u << 20); ++i) {
    const std::string block(4096 + i * 7919 % 50000, static_cast<char>('a' + i % 26));
    append(buffer, block);
    expected += block;
  }
  ASSERT_EQ(buffer.view(), expected);
  EXPECT_GE(buffer.capacity(), buffer.size());

  buffer.drop_front(expected.size() - 1000);
  expected.erase(0, expected.size() - 1000);
  ASSERT_EQ(buffer.view(), expected);

  buffer.shrink(65536);
  EXPECT_EQ(buffer.capacity(), 65536u);
  ASSERT_EQ(buffer.view(), expected);
  append(buffer, "tail");
  EXPECT_EQ(buffer.view(), expected + "tail");

  ByteBuffer moved = std::move(buffer);
  EXPECT_EQ(moved.view(), expected + "tail");
  EXPECT_EQ(buffer.size(), 0u);
  moved.clear();
  moved.shrink();
  EXPECT_EQ(moved.capacity(), 0u);
}

TEST(ByteBuffer, AnImpossibleReservationFailsInsteadOfThrowing) {
  ByteBuffer buffer;
  append(buffer, "keep");
  EXPECT_FALSE(buffer.reserve_extra(static_cast<std::size_t>(-1) - 2));
  EXPECT_EQ(buffer.view(), "keep");
}

}  // namespace
}  // namespace vesk
