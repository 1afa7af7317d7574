#include "launch/instance_ids.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

namespace vesk {
namespace {

TEST(InstanceIds, ShapeAndUniqueness) {
  std::set<std::string> ids;
  std::set<std::string> tokens;
  std::set<char> token_characters;
  for (int i = 0; i < 200; ++i) {
    auto id = new_instance_id();
    auto token = new_instance_token();
    EXPECT_THAT(id, ::testing::MatchesRegex("inst_[a-z0-9]{8}"));
    EXPECT_THAT(token, ::testing::MatchesRegex("[A-Za-z0-9]{48}"));
    ids.insert(id);
    tokens.insert(token);
    token_characters.insert(token.begin(), token.end());
  }
  EXPECT_EQ(ids.size(), 200u);
  EXPECT_EQ(tokens.size(), 200u);
  // 9600 draws from 62 characters: every one of them shows up (a generator stuck on a
  // subset, or dropping a case, would not).
  EXPECT_EQ(token_characters.size(), 62u);
}

}  // namespace
}  // namespace vesk
