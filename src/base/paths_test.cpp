#include "base/paths.hpp"

#include <gtest/gtest.h>

#include <map>

namespace vesk {
namespace {

TEST(ResolveAppPaths, PrecedenceOfTheThreeVariables) {
  struct Case {
    std::map<std::string, std::string> env;
    const char* data_dir;  // nullptr: cannot resolve
  } cases[] = {
      {{{"LOCALAPPDATA", "/l"}, {"HOME", "/h"}, {"USERPROFILE", "/u"}}, "/l/VeskApp"},
      {{{"LOCALAPPDATA", ""}, {"HOME", "/h"}}, "VeskApp"},
      {{{"HOME", "/h"}, {"USERPROFILE", "/u"}}, "/h/.veskapp"},
      {{{"USERPROFILE", "/u"}}, "/u/.veskapp"},
      {{}, nullptr},
  };
  for (const auto& c : cases) {
    auto env = [&](const char* name) -> std::optional<std::string> {
      auto it = c.env.find(name);
      if (it == c.env.end()) return std::nullopt;
      return it->second;
    };
    auto paths = resolve_app_paths(env);
    if (c.data_dir == nullptr) {
      ASSERT_FALSE(paths);
      EXPECT_EQ(paths.error().text(), "cannot resolve home directory");
      continue;
    }
    ASSERT_TRUE(paths);
    EXPECT_EQ(paths->data_dir, c.data_dir);
    EXPECT_EQ(paths->state_path, std::filesystem::path(c.data_dir) / "state.json");
  }
}

}  // namespace
}  // namespace vesk
