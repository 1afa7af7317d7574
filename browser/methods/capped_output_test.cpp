// Capping big answers and reading the output option words, on tables.
#include "browser/methods/capped_output.hpp"

#include <gtest/gtest.h>

namespace vesk::browser {
namespace {

TEST(CappedOutput, CutsOnlyWhatIsOverTheCapAndSaysSo) {
  struct Case {
    Json value;
    std::size_t cap;
    Json kept;
    std::size_t length;  // 0: not cut
  };
  const std::vector<Case> cases = {
      {"hello", 10, "hello", 0},
      {"hello", 5, "hello", 0},
      {"hello world", 5, "hello", 11},
      {"\xc3\xa9\xc3\xa9\xc3\xa9", 3, "\xc3\xa9", 6},  // never half a character
      {Json::array({1, 2, 3}), 100, Json::array({1, 2, 3}), 0},
      {Json::array({1, 2, 3}), 4, "[1,2", 7},  // the start of its JSON text
      {nullptr, 10, nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value.dump());
    Json result = Json::object();
    put_capped(result, "value", c.value, c.cap);
    EXPECT_EQ(result["value"], c.kept);
    if (c.length == 0) {
      EXPECT_FALSE(result.contains("truncated"));
    } else {
      EXPECT_EQ(result["truncated"], true);
      EXPECT_EQ(result["length"], c.length);
    }
  }
}

TEST(CappedOutput, TakesLeadingOptionWordsOnly) {
  std::vector<std::string> words = {"--max-bytes", "10", "--out", "/tmp/x", "document.title", "--out"};
  auto options = take_output_options(words);
  ASSERT_TRUE(options.has_value());
  EXPECT_EQ(options->max_bytes, 10u);
  EXPECT_EQ(options->out, "/tmp/x");
  EXPECT_EQ(words, (std::vector<std::string>{"document.title", "--out"}));

  std::vector<std::string> none = {"1", "+", "1"};
  EXPECT_EQ(take_output_options(none)->max_bytes, kDefaultOutputCap);
  EXPECT_EQ(none.size(), 3u);

  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
           {"--max-bytes"}, {"--max-bytes", "0"}, {"--max-bytes", "1.5"}, {"--max-bytes", "lots"}, {"--out"}}) {
    SCOPED_TRACE(bad.front() + " " + (bad.size() > 1 ? bad[1] : ""));
    auto refused = take_output_options(bad);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().code, "invalidArgument");
  }
}

}  // namespace
}  // namespace vesk::browser
