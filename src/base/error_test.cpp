#include "base/error.hpp"

#include <gtest/gtest.h>

#include <cerrno>

#include "base/json.hpp"

namespace vesk {
namespace {

TEST(Error, ChainIsOutermostFirstAndKeepsRootKind) {
  Error root("connection refused", ErrorKind::TimedOut);
  Error outer = root.wrap("failed to connect").wrap("failed to start background VeskApp server");
  EXPECT_EQ(outer.text(),
            "failed to start background VeskApp server: failed to connect: connection refused");
  EXPECT_EQ(outer.kind(), ErrorKind::TimedOut);
  EXPECT_EQ(root.text(), "connection refused");
}

TEST(Error, SystemErrorNamesTheCause) {
  // ENOENT: a code whose text the C libraries of both systems know.
  Error e = system_error(ENOENT, "failed to open /x");
  EXPECT_EQ(e.messages().size(), 2u);
  EXPECT_EQ(e.message(), "failed to open /x");
  EXPECT_NE(e.messages()[1].find("No such file"), std::string::npos) << e.text();
  EXPECT_EQ(system_error(ENOENT).kind(), ErrorKind::NotFound);
}

TEST(Json, DepthLimitRefusesDeepNestingButAcceptsTheLimit) {
  std::string ok(kMaxJsonDepth, '[');
  ok += std::string(kMaxJsonDepth, ']');
  EXPECT_TRUE(parse_json(ok));
  std::string deep(100000, '[');
  deep += std::string(100000, ']');
  auto r = parse_json(deep);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().text(), "JSON nested deeper than 512 levels");
}

// Chromium's text for strings with unpaired surrogates: each lone one becomes U+FFFD, pairs
// and escaped backslashes stay as they are, and the result reads as JSON.
TEST(Json, LoneSurrogateEscapesAreMendedAndPairsKept) {
  struct Case {
    std::string text;
    std::string mended;
  };
  const Case cases[] = {
      {R"(["\ud800"])", R"(["\ufffd"])"},
      {R"(["a\uDC00b"])", R"(["a\ufffdb"])"},
      {R"(["\ud83d\ude00"])", R"(["\ud83d\ude00"])"},
      {R"(["\ud800\ud83d\ude00"])", R"(["\ufffd\ud83d\ude00"])"},
      {R"(["\ud800x\udc00"])", R"(["\ufffdx\ufffd"])"},
      {R"(["\ud800\n"])", R"(["\ufffd\n"])"},
      {R"(["\ude00\ud83d"])", R"(["\ufffd\ufffd"])"},
      {R"(["\\ud800", "\\\ud800"])", R"(["\\ud800", "\\\ufffd"])"},
      {R"({"k": "\u00e9\ud800"})", R"({"k": "\u00e9\ufffd"})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string text = c.text;
    EXPECT_EQ(replace_lone_surrogate_escapes(text), c.text != c.mended);
    EXPECT_EQ(text, c.mended);
    EXPECT_TRUE(parse_json_mending_surrogates(c.text)) << "reads as JSON once mended";
  }
  EXPECT_FALSE(parse_json_mending_surrogates(R"(["\ud800)")) << "text broken otherwise still fails";
}

TEST(Json, Utf8Validation) {
  struct Case {
    std::string bytes;
    bool valid;
  } cases[] = {
      {"plain", true},         {"caf\xc3\xa9", true},     {"\xf0\x9f\x98\x80", true},
      {"\xc3", false},         {"\xc0\xaf", false},       {"\xed\xa0\x80", false},
      {"\xf4\x90\x80\x80", false}, {"\xff", false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << c.bytes;
}

}  // namespace
}  // namespace vesk
