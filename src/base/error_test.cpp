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
