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
    // (GoogleTest's regular expressions on Windows know no [] or {}: checked by hand.)
    constexpr std::string_view kLowerAndDigits = "abcdefghijklmnopqrstuvwxyz0123456789";
    constexpr std::string_view kLettersAndDigits = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    EXPECT_TRUE(id.size() == 13 && id.starts_with("inst_") &&
                id.find_first_not_of(kLowerAndDigits, 5) == std::string::npos) << id;
    EXPECT_TRUE(token.size() == 48 && token.find_first_not_of(kLettersAndDigits) == std::string::npos) << token;
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
