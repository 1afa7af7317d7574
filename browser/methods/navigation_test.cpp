// Tabs, navigation and page reads against a real Chromium.
#include <gtest/gtest.h>

#include "browser/test_support.hpp"

namespace vesk::browser {
namespace {

using testing::FixtureHttpServer;
using testing::TempDir;
using testing::fixture_url;

std::string code_of(const MethodResult& result) { return result ? "" : result.error().code; }

TEST(BrowserTabs, OpenFocusCloseAndNavigateKeepShortStableIds) {
  TempDir dir;
  auto running = testing::start_test_browser(dir);
  VESK_REQUIRE_BROWSER(running);

  auto listed = running->serve("tab.list", {{"args", Json::array()}, {"tab", nullptr}});
  ASSERT_TRUE(listed.has_value()) << listed.error().message;
  ASSERT_EQ((*listed)["tabs"].size(), 1u);
  EXPECT_EQ((*listed)["current"], "1");

  auto navigated = running->serve("tab.navigate", {{"url", fixture_url("form.html")}, {"newTab", false},
                                                   {"tab", nullptr}, {"options", {{"text", true}}}});
  ASSERT_TRUE(navigated.has_value()) << navigated.error().message;
  EXPECT_EQ((*navigated)["title"], "Vesk fixture form");
  EXPECT_EQ((*navigated)["loaded"], true);
  EXPECT_NE((*navigated)["text"].get<std::string>().find("Sign up"), std::string::npos);

  auto opened = running->serve("tab.open", {{"args", {"open"}}, {"tab", nullptr}});
  ASSERT_TRUE(opened.has_value()) << opened.error().message;
  EXPECT_EQ((*opened)["tab"], "2");
  auto title_of_new = running->serve("page.title", {{"args", Json::array()}, {"tab", nullptr}});
  ASSERT_TRUE(title_of_new.has_value());
  EXPECT_EQ((*title_of_new)["title"], "");

  // "tab 1": back to the first tab, which still shows the form.
  auto focused = running->serve("tab.focus", {{"args", {"1"}}, {"tab", "1"}});
  ASSERT_TRUE(focused.has_value()) << focused.error().message;
  auto title = running->serve("page.title", {{"args", Json::array()}, {"tab", nullptr}});
  ASSERT_TRUE(title.has_value());
  EXPECT_EQ((*title)["title"], "Vesk fixture form");
  auto url_of_2 = running->serve("page.url", {{"args", Json::array()}, {"tab", "2"}});
  ASSERT_TRUE(url_of_2.has_value());
  EXPECT_EQ((*url_of_2)["url"], "about:blank");

  auto closed = running->serve("tab.close", {{"args", {"close", "2"}}, {"tab", "2"}});
  ASSERT_TRUE(closed.has_value()) << closed.error().message;
  EXPECT_EQ((*closed)["closed"], "2");
  EXPECT_EQ((*closed)["current"], "1");
  EXPECT_EQ(code_of(running->serve("tab.focus", {{"args", {"2"}}, {"tab", "2"}})), "tabNotFound");

  // A third tab gets a new id; "2" is not reused.
  auto third = running->serve("tab.navigate", {{"url", fixture_url("form.html")}, {"newTab", true},
                                               {"tab", nullptr}, {"options", Json::object()}});
  ASSERT_TRUE(third.has_value()) << third.error().message;
  EXPECT_EQ((*third)["tab"], "3") << running->serve("tab.list", Json::object())->dump();
}

TEST(BrowserNavigation, LoadsThatNeverFireALoadEventStillAnswer) {
  TempDir dir;
  FixtureHttpServer server;
  auto running = testing::start_test_browser(dir);
  VESK_REQUIRE_BROWSER(running);
  auto nav = [&](const std::string& url) {
    return running->serve("tab.navigate", {{"url", url}, {"newTab", false}, {"tab", nullptr},
                                           {"options", Json::object()}});
  };
  ASSERT_TRUE(nav(server.url("/form.html")).has_value());

  struct Case {
    std::string url;
    std::string expected_code;  // "" for success
    std::string in_message;
  };
  const Case cases[] = {
      {server.url("/form.html#section2"), "", ""},
      {fixture_url("does-not-exist.html"), "navigationFailed", "ERR_FILE_NOT_FOUND"},
      {"http://127.0.0.1:9/", "navigationFailed", "ERR_"},
      {server.url("/download/form.html"), "", ""},
      {"http://[::1", "navigationFailed", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    auto result = nav(c.url);
    EXPECT_EQ(code_of(result), c.expected_code) << (result ? result->dump() : result.error().message);
    if (!result && !c.in_message.empty()) {
      EXPECT_NE(result.error().message.find(c.in_message), std::string::npos) << result.error().message;
    }
  }
  auto download = nav(server.url("/download/form.html"));
  ASSERT_TRUE(download.has_value());
  EXPECT_EQ((*download)["download"], true);
}

TEST(BrowserPage, EvalAnswersValuesOrTheException) {
  TempDir dir;
  auto running = testing::start_test_browser(dir);
  VESK_REQUIRE_BROWSER(running);
  ASSERT_TRUE(running->serve("tab.navigate", {{"url", fixture_url("form.html")}, {"newTab", false},
                                              {"tab", nullptr}, {"options", Json::object()}}));
  auto eval = [&](std::vector<std::string> words) {
    return running->serve("page.eval", {{"args", words}, {"tab", nullptr}});
  };
  auto sum = eval({"1", "+", "2"});
  ASSERT_TRUE(sum.has_value());
  EXPECT_EQ((*sum)["value"], 3);
  auto object = eval({"({a: [1, 'x'], b: null})"});
  ASSERT_TRUE(object.has_value());
  EXPECT_EQ((*object)["value"], (Json{{"a", {1, "x"}}, {"b", nullptr}}));
  auto promised = eval({"Promise.resolve(document.title)"});
  ASSERT_TRUE(promised.has_value());
  EXPECT_EQ((*promised)["value"], "Vesk fixture form");
  auto thrown = eval({"throw new Error('boom')"});
  ASSERT_FALSE(thrown.has_value());
  EXPECT_EQ(thrown.error().code, "evaluationFailed");
  EXPECT_NE(thrown.error().message.find("boom"), std::string::npos);
  EXPECT_EQ(code_of(eval({})), "invalidArgument");
  EXPECT_EQ(code_of(running->serve("no.such.method", {{"args", Json::array()}})), "unsupportedMethod");
}

}  // namespace
}  // namespace vesk::browser
