// Batch command lines are split as a shell would split them, and malformed quoting is an
// error rather than a guess.
#include "language/shell_words.hpp"

#include <gtest/gtest.h>

namespace vesk::cli {
namespace {

using Words = std::vector<std::string>;

TEST(ShellWords, SplitAsAShellWould) {
  const std::pair<const char*, Words> cases[] = {
      {"fill e1 Ada", {"fill", "e1", "Ada"}},
      {"  click\te3  \n", {"click", "e3"}},
      {"", {}},
      {"   ", {}},
      {"fill e2 'Ada Lovelace'", {"fill", "e2", "Ada Lovelace"}},
      {"eval \"document.title + 'x'\"", {"eval", "document.title + 'x'"}},
      {"type e1 'it'\\''s'", {"type", "e1", "it's"}},
      {"press Control+a", {"press", "Control+a"}},
      {"fill e1 ''", {"fill", "e1", ""}},
      {"fill e1 \"\"", {"fill", "e1", ""}},
      {"a\\ b c", {"a b", "c"}},
      {"x \"a\\\"b\\\\c\\d\"", {"x", "a\"b\\c\\d"}},
      {"x 'a\\b'", {"x", "a\\b"}},
      {"x pre'mid dle'post", {"x", "premid dlepost"}},
      {"x $HOME `id` *", {"x", "$HOME", "`id`", "*"}},  // nothing is expanded
      {"x \"\\$HOME\"", {"x", "$HOME"}},
      {"x a\\\nb", {"x", "ab"}},
      {"fill e1 Ünïcödé", {"fill", "e1", "Ünïcödé"}},
  };
  for (const auto& [line, expected] : cases) {
    const auto words = split_shell_words(line);
    ASSERT_TRUE(words) << line << ": " << words.error().text();
    EXPECT_EQ(*words, expected) << line;
  }
}

TEST(ShellWords, UnclosedQuotesAndTrailingBackslashAreErrors) {
  const std::pair<const char*, const char*> cases[] = {
      {"fill e1 'Ada", "unterminated single quote"},
      {"eval \"1 + 1", "unterminated double quote"},
      {"eval \"a\\\"", "unterminated double quote"},
      {"click e1 \\", "trailing backslash"},
  };
  for (const auto& [line, message] : cases) {
    const auto words = split_shell_words(line);
    ASSERT_FALSE(words) << line;
    EXPECT_NE(words.error().text().find(message), std::string::npos) << words.error().text();
  }
}

}  // namespace
}  // namespace vesk::cli
