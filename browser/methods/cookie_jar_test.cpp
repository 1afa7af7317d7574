// Reading cookies of saved-state files and expiry words: what a file from another tool
// holds must load, and a bad member must be named.
#include "browser/methods/cookie_jar.hpp"

#include <gtest/gtest.h>

namespace vesk::browser {
namespace {

TEST(CookieParam, TurnsSavedCookiesIntoChromiumParameters) {
  struct Case {
    Json cookie;
    Json expected;
  };
  const Case cases[] = {
      // A session cookie (-1) goes without an expiry; the path defaults to "/".
      {{{"name", "sid"}, {"value", "x"}, {"domain", ".example.com"}, {"expires", -1}, {"httpOnly", true},
        {"secure", true}, {"sameSite", "None"}},
       {{"name", "sid"}, {"value", "x"}, {"domain", ".example.com"}, {"path", "/"}, {"httpOnly", true},
        {"secure", true}, {"sameSite", "None"}}},
      // Fractional expiries, as browsers write them, are kept.
      {{{"name", "a"}, {"value", ""}, {"domain", "example.com"}, {"path", "/app"}, {"expires", 1767225600.5}},
       {{"name", "a"}, {"value", ""}, {"domain", "example.com"}, {"path", "/app"}, {"expires", 1767225600.5}}},
      // A url may stand for the domain.
      {{{"name", "a"}, {"value", "1"}, {"url", "https://example.com/x"}},
       {{"name", "a"}, {"value", "1"}, {"url", "https://example.com/x"}, {"path", "/"}}},
  };
  for (const auto& c : cases) {
    auto param = cookie_param(c.cookie, "cookies[0]");
    ASSERT_TRUE(param) << param.error();
    EXPECT_EQ(*param, c.expected) << c.cookie;
  }
}

TEST(CookieParam, NamesTheBadMember) {
  const Json base = {{"name", "a"}, {"value", "1"}, {"domain", "example.com"}};
  struct Case {
    const char* key;
    Json value;  // null removes the member
    const char* named;
  };
  const Case cases[] = {
      {"name", nullptr, "cookies[3] has no \"name\""},
      {"name", "", "cookies[3].name must not be empty"},
      {"value", 7, "cookies[3].value must be a string"},
      {"domain", nullptr, "cookies[3] needs a \"domain\""},
      {"expires", "tomorrow", "cookies[3].expires"},
      {"secure", "yes", "cookies[3].secure must be true or false"},
      {"sameSite", "lax", "cookies[3].sameSite must be \"Strict\", \"Lax\" or \"None\""},
      {"url", "ftp://example.com/", "cookies[3].url must be an http:// or https:// URL"},
  };
  for (const auto& c : cases) {
    Json cookie = base;
    if (c.value.is_null()) {
      cookie.erase(c.key);
    } else {
      cookie[c.key] = c.value;
    }
    auto param = cookie_param(cookie, "cookies[3]");
    ASSERT_FALSE(param) << cookie;
    EXPECT_NE(param.error().find(c.named), std::string::npos) << param.error();
  }
  EXPECT_FALSE(cookie_param(Json::array(), "cookies[0]"));
}

TEST(CookieExpiry, ReadsSecondsAndUtcDates) {
  const std::pair<const char*, std::optional<double>> cases[] = {
      {"1767225600", 1767225600.0},
      {"2026-01-01", 1767225600.0},
      {"2026-01-01T00:00:00Z", 1767225600.0},
      {"2026-01-01T10:30", 1767225600.0 + 10 * 3600 + 30 * 60},
      {"2026-01-01T10:30:15Z", 1767225600.0 + 10 * 3600 + 30 * 60 + 15},
      {"2026-13-01", std::nullopt},
      {"2026-01-01T25:00", std::nullopt},
      {"2026-01-01T10:30+02:00", std::nullopt},
      {"tomorrow", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(parse_cookie_expiry(text), expected) << text;
}

TEST(CookieDomain, TakesTheDomainAndItsSubdomainsOnly) {
  const auto in = [](const char* own, const char* wanted) { return cookie_in_domain({{"domain", own}}, wanted); };
  EXPECT_TRUE(in("example.com", "example.com"));
  EXPECT_TRUE(in(".example.com", "example.com"));
  EXPECT_TRUE(in("www.example.com", ".example.com"));
  EXPECT_FALSE(in("badexample.com", "example.com"));
  EXPECT_FALSE(in("example.com", "www.example.com"));
}

}  // namespace
}  // namespace vesk::browser
