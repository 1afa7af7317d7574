#include "base/log_text.hpp"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(EscapeLogText, PeerBytesCannotBreakOrForgeALine) {
  struct Case {
    std::string text;
    std::string logged;
  };
  const Case cases[] = {
      {"page.title", "page.title"},
      {"Grüße, 日本, 🙂", "Grüße, 日本, 🙂"},
      {"a\nb\r\tc", "a\\nb\\r\\tc"},
      {"x\n[2026-01-01T00:00:00Z] vesk INFO forged", "x\\n[2026-01-01T00:00:00Z] vesk INFO forged"},
      {"\x1b[31mred\x1b[0m", "\\x1b[31mred\\x1b[0m"},
      {std::string("nul\0end", 7), "nul\\x00end"},
      {"del\x7f", "del\\x7f"},
      {"bad \xff\xfe utf8", "bad \\xff\\xfe utf8"},
      {"cut \xe6\x97", "cut \\xe6\\x97"},
      {"overlong \xc0\xaf", "overlong \\xc0\\xaf"},
      {"surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80"},
      {"C:\\Users\\a", "C:\\Users\\a"},
  };
  for (const auto& c : cases) EXPECT_EQ(escape_log_text(c.text), c.logged) << c.logged;
}

}  // namespace
}  // namespace vesk
