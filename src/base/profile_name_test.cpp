#include "base/profile_name.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vesk {
namespace {

TEST(CheckProfileName, AcceptsOnlyOneOrdinaryFolderName) {
  struct Case {
    std::string name;
    const char* why;  // nullptr: accepted
  } cases[] = {
      {"default", nullptr},
      {"work profile-2", nullptr},
      {"naïve", nullptr},
      {".hidden", nullptr},
      {"a.b", nullptr},
      {"CONSOLE", nullptr},
      {"", "it is empty"},
      {".", "relative"},
      {"..", "relative"},
      {"../escape", "path separator"},
      {"a/b", "path separator"},
      {"a\\b", "path separator"},
      {"/abs", "path separator"},
      {"C:", "':'"},
      {std::string("a\0b", 3), "control character"},
      {"tab\there", "control character"},
      {"a<b", "'<'"},
      {"a|b", "'|'"},
      {"what?", "'?'"},
      {"star*", "'*'"},
      {"quote\"", "'\"'"},
      {"trailing.", "ends in a dot"},
      {"trailing ", "ends in a dot or a space"},
      {"con", "reserves"},
      {"Lpt1.txt", "reserves"},
      {"NUL .x", "reserves"},
      {std::string(101, 'a'), "too long"},
  };
  for (const auto& c : cases) {
    auto checked = check_profile_name(c.name);
    if (c.why == nullptr) {
      EXPECT_TRUE(checked) << c.name << ": " << checked.error().text();
      continue;
    }
    ASSERT_FALSE(checked) << "accepted " << c.name;
    EXPECT_NE(checked.error().text().find(c.why), std::string::npos) << checked.error().text();
    EXPECT_NE(checked.error().text().find("invalid profile name"), std::string::npos);
  }
  EXPECT_TRUE(check_profile_name(std::string(100, 'a')));
}

TEST(CheckProfileName, ShowsControlCharactersEscaped) {
  auto checked = check_profile_name(std::string("x\x01y", 3));
  ASSERT_FALSE(checked);
  EXPECT_NE(checked.error().text().find("\"x\\x01y\""), std::string::npos) << checked.error().text();
}

}  // namespace
}  // namespace vesk
