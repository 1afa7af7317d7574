#include "browser/trackers/network_rules.hpp"

#include <gtest/gtest.h>

namespace vesk::browser {
namespace {

TEST(UrlGlob, MatchesTheWholeUrlWithStarsQuestionMarksAndEscapes) {
  struct Case {
    std::string pattern;
    std::string url;
    bool matches;
  };
  const Case cases[] = {
      {"*", "http://a/b", true},
      {"*/api/*", "http://host/api/users?id=1", true},
      {"*/api/*", "http://host/apix/users", false},
      {"http://host/?", "http://host/a", true},
      {"http://host/?", "http://host/ab", false},
      {"http://host/a", "http://host/a/b", false},  // the whole URL, not a prefix
      {"*.png", "http://h/x.png", true},
      {"*.png", "http://h/x.png?v=2", false},
      {"*\\*star*", "http://h/*star", true},
      {"*\\*star*", "http://h/xstar", false},
      {"*a*a*a*a*a*b", std::string(200, 'a'), false},  // no exponential backtracking
      {"", "", true},
  };
  for (const auto& c : cases) EXPECT_EQ(url_glob_matches(c.pattern, c.url), c.matches) << c.pattern << " ~ " << c.url;
}

TEST(UrlGlob, ATextWithoutWildcardsMeansUrlsContainingIt) {
  EXPECT_EQ(route_glob("api/data"), "*api/data*");
  EXPECT_EQ(route_glob("*/api/*"), "*/api/*");
  EXPECT_EQ(route_glob("a\\b"), "*a\\\\b*");
  EXPECT_TRUE(url_glob_matches(route_glob("a\\b"), "http://h/a\\b"));
}

Route answering(const std::string& pattern, int status) {
  Route route;
  route.pattern = pattern;
  route.glob = route_glob(pattern);
  route.status = status;
  return route;
}

TEST(NetworkRules, TheNewestMatchingRouteAnswersAndCountsTheHit) {
  NetworkRules rules;
  rules.add(answering("api", 201));
  rules.add(answering("*/api/users", 202));
  EXPECT_EQ(rules.answer_for("http://h/api/users")->status, 202);
  EXPECT_EQ(rules.answer_for("http://h/api/items")->status, 201);
  EXPECT_FALSE(rules.answer_for("http://h/other"));
  // Adding a pattern again replaces the route (its hits start over).
  rules.add(answering("api", 203));
  EXPECT_EQ(rules.routes().size(), 2u);
  EXPECT_EQ(rules.answer_for("http://h/api/items")->status, 203);
  EXPECT_EQ(rules.fetch_patterns().size(), 2u);
  EXPECT_EQ(rules.remove(std::string("api")), 1u);
  EXPECT_EQ(rules.remove(std::nullopt), 1u);
  EXPECT_TRUE(rules.fetch_patterns().empty());
}

}  // namespace
}  // namespace vesk::browser
