// End to end: cookies, storage and saved state in a real Chromium, on pages of the loopback
// fixture server (cookies and storage need an http origin).
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "e2e_support.hpp"
#include "support/process_sweep.hpp"

namespace vesk::test {
namespace {

using ::testing::HasSubstr;

class StateEndToEnd : public RealBrowserTest {
 protected:
  static std::string url(const std::string& path) { return session().http().url(path); }

  // The cookie of that name in a `cookies` listing, or null.
  static Json cookie_named(const Json& listing, const std::string& name) {
    for (const Json& cookie : listing.value("cookies", Json::array())) {
      if (cookie.value("name", "") == name) return cookie;
    }
    return Json();
  }

  // Waits until the sign-in fixture shows both of its answers, and returns its text.
  static std::string signin_text(BrowserSession& browser) {
    std::string text;
    eventually(
        [&] {
          RunResult shown = browser.vesk({"text"});
          text = shown.out;
          return text.find("checking") == std::string::npos && shown.status == 0;
        },
        kBrowserWait);
    return text;
  }
};

TEST_F(StateEndToEnd, CookiesIncludeHttpOnlyOnesAndCanBeSetDeletedAndCleared) {
  ok({"cookies", "clear"});
  ok({"nav", url("/set-cookie/session/abc123")});

  // The server's HttpOnly cookie is invisible to the page but listed.
  EXPECT_EQ(eval("document.cookie"), "");
  Json server_cookie = cookie_named(ok({"cookies"}), "session");
  EXPECT_EQ(server_cookie.value("value", ""), "abc123") << server_cookie;
  EXPECT_EQ(server_cookie.value("httpOnly", false), true) << server_cookie;
  EXPECT_EQ(server_cookie.value("expires", 0), -1) << server_cookie;
  EXPECT_EQ(server_cookie.value("domain", ""), "127.0.0.1") << server_cookie;
  EXPECT_FALSE(cookie_named(ok({"cookies", "list", "--url", url("/")}), "session").is_null());
  EXPECT_TRUE(cookie_named(ok({"cookies", "--domain", "example.com"}), "session").is_null());
  Json got = ok({"cookies", "get", "session"});
  EXPECT_EQ(got.value("found", false), true) << got;
  EXPECT_EQ(got["cookie"].value("value", ""), "abc123") << got;

  // Without --url or --domain a cookie goes to the current page, which then sees it.
  ok({"nav", url("/signin.html")});
  Json set = ok({"cookies", "set", "theme", "dark"});
  EXPECT_EQ(set["cookie"].value("domain", ""), "127.0.0.1") << set;
  EXPECT_THAT(eval("document.cookie").dump(), HasSubstr("theme=dark"));
  // A path below the page's own is kept too.
  EXPECT_EQ(ok({"cookies", "set", "deep", "1", "--path", "/app/x"})["cookie"].value("path", ""), "/app/x");
  // After "--" a value may begin with dashes.
  EXPECT_EQ(ok({"cookies", "set", "dashed", "--", "--x"})["cookie"].value("value", ""), "--x");

  const auto in_a_month = std::chrono::duration_cast<std::chrono::seconds>(
                              std::chrono::system_clock::now().time_since_epoch() + std::chrono::hours(24 * 30))
                              .count();
  Json lasting = ok({"cookies", "set", "pref", "compact", "--domain", "127.0.0.1", "--path", "/app", "--expires",
                     std::to_string(in_a_month), "--same-site", "Strict", "--secure", "--http-only"});
  EXPECT_EQ(lasting["cookie"].value("expires", 0.0), static_cast<double>(in_a_month)) << lasting;
  EXPECT_FALSE(lasting.contains("note")) << lasting;
  EXPECT_EQ(lasting["cookie"].value("path", ""), "/app") << lasting;
  EXPECT_EQ(lasting["cookie"].value("sameSite", ""), "Strict") << lasting;
  EXPECT_EQ(lasting["cookie"].value("httpOnly", false), true) << lasting;

  // Chromium caps lifetimes at 400 days; an ISO date beyond that is kept, with a note.
  Json capped = ok({"cookies", "set", "far", "future", "--expires", "2099-01-01T00:00:00Z"});
  EXPECT_LT(capped["cookie"].value("expires", 0.0), 4070908800.0) << capped;
  EXPECT_THAT(capped.value("note", ""), HasSubstr("400 days")) << capped;

  EXPECT_EQ(ok({"cookies", "delete", "theme"}).value("deleted", 0), 1);
  EXPECT_EQ(ok({"cookies", "get", "theme"}).value("found", true), false);
  EXPECT_EQ(ok({"cookies", "clear", "--domain", "example.com"}).value("cleared", -1), 0);
  EXPECT_FALSE(cookie_named(ok({"cookies"}), "session").is_null()) << "a clear of another domain removed a cookie";
  ok({"cookies", "clear"});
  EXPECT_EQ(ok({"cookies"}).value("count", -1), 0);

  // Bad words are refused with the accepted forms, and change nothing.
  for (const auto& words : std::vector<std::vector<std::string>>{
           {"cookies", "eat"},
           {"cookies", "list", "--colour", "red"},
           {"cookies", "set", "lonely"},
           {"cookies", "set", "a", "b", "--same-site", "lax"},
           {"cookies", "set", "a", "b", "--expires", "yesterday"},
           {"cookies", "set", "a", "b", "--expires", "2001-01-01"},
           {"cookies", "set", "a", "b", "--url", "ftp://127.0.0.1/"},
       }) {
    fails_with(words, "invalidArgument");
  }
  fails_with({"cookies", "set", "a", "b", "--same-site", "None"}, "actionFailed");
  EXPECT_EQ(ok({"cookies"}).value("count", -1), 0);
  ok({"nav", "about:blank"});
  fails_with({"cookies", "set", "a", "b"}, "invalidArgument");
}

TEST_F(StateEndToEnd, StorageOfTheCurrentOrigin) {
  ok({"nav", url("/signin.html")});
  ok({"storage", "clear"});
  ok({"storage", "session", "clear"});

  Json set = ok({"storage", "set", "token", "t 1"});
  EXPECT_EQ(set.value("value", ""), "t 1") << set;
  EXPECT_EQ(set.value("origin", ""), url("")) << set;
  EXPECT_EQ(eval("localStorage.getItem('token')"), "t 1");
  EXPECT_EQ(ok({"storage", "local", "get", "token"}).value("value", ""), "t 1");
  Json missing = ok({"storage", "get", "nothing"});
  EXPECT_EQ(missing.value("found", true), false) << missing;
  EXPECT_TRUE(missing["value"].is_null()) << missing;

  ok({"storage", "session", "set", "step", "2"});
  Json session_items = ok({"storage", "session", "list"});
  EXPECT_EQ(session_items.value("count", 0), 1) << session_items;
  Json local_items = ok({"storage"});
  ASSERT_EQ(local_items.value("count", 0), 1) << local_items;
  EXPECT_EQ(local_items["items"][0], (Json{{"name", "token"}, {"value", "t 1"}}));

  EXPECT_EQ(ok({"storage", "delete", "token"}).value("deleted", false), true);
  ok({"storage", "set", "a", "1"});
  ok({"storage", "set", "b", "2"});
  EXPECT_EQ(ok({"storage", "clear"}).value("cleared", 0), 2);
  EXPECT_EQ(eval("localStorage.length"), 0);
  EXPECT_EQ(eval("sessionStorage.getItem('step')"), "2") << "clearing local storage touched session storage";

  fails_with({"storage", "local", "peek"}, "invalidArgument");
  fails_with({"storage", "set", "only-a-key"}, "invalidArgument");
  ok({"nav", "about:blank"});
  fails_with({"storage"}, "invalidArgument");
}

TEST_F(StateEndToEnd, StateSavedInOneProfileSignsAFreshProfileIn) {
  // Signed in here: an HttpOnly cookie from the server and a token in local storage.
  ok({"cookies", "clear"});
  ok({"nav", url("/set-cookie/session/s3cret")});
  ok({"nav", url("/signin.html")});
  ok({"storage", "clear"});
  ok({"storage", "set", "token", "tok-42"});
  ok({"reload"});
  const std::string here = signin_text(session());
  ASSERT_THAT(here, HasSubstr("cookie: signed in"));
  ASSERT_THAT(here, HasSubstr("storage: signed in"));

  // A file that exists (here readable by all) is replaced by a user-only one.
  const fs::path file = session().env().root() / "signed-in.json";
  std::ofstream(file) << "old";
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
  Json saved = ok({"state", "save", file.string()});
  EXPECT_EQ(saved.value("path", ""), file.string()) << saved;
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600) << "the state file holds session secrets";
  const Json state = Json::parse(read_file(file));
  Json cookie;
  for (const Json& c : state["cookies"]) {
    if (c["name"] == "session") cookie = c;
  }
  EXPECT_EQ(cookie, (Json{{"name", "session"}, {"value", "s3cret"}, {"domain", "127.0.0.1"}, {"path", "/"},
                          {"expires", -1}, {"httpOnly", true}, {"secure", false}, {"sameSite", "Lax"}}));
  EXPECT_EQ(state["origins"], (Json::array({{{"origin", url("")},
                                              {"localStorage", Json::array({{{"name", "token"}, {"value", "tok-42"}}})}}})));
  fails_with({"state", "save", "relative.json"}, "invalidArgument");
  fails_with({"state", "save", (session().env().root() / "no-such-folder" / "s.json").string()}, "fileError");
  fails_with({"state", "load", (session().env().root() / "missing.json").string()}, "invalidArgument");

  // A fresh profile is signed out, until it loads the state.
  BrowserSession fresh;
  std::string why;
  ASSERT_TRUE(fresh.start(why)) << why;
  ASSERT_EQ(fresh.vesk({"nav", url("/signin.html")}).status, 0);
  const std::string before = signin_text(fresh);
  ASSERT_THAT(before, HasSubstr("cookie: signed out"));
  ASSERT_THAT(before, HasSubstr("storage: signed out"));

  // A bad file is refused whole: the good cookie before the bad one is not stored.
  const fs::path bad = session().env().root() / "bad.json";
  std::ofstream(bad) << R"({"cookies": [{"name": "early", "value": "1", "domain": "127.0.0.1"},
                                        {"name": "late", "value": "2", "domain": "127.0.0.1", "sameSite": "lax"}]})";
  RunResult refused = fresh.vesk({"state", "load", bad.string()});
  EXPECT_NE(refused.status, 0);
  EXPECT_THAT(refused.err, HasSubstr("invalidArgument"));
  EXPECT_THAT(refused.err, HasSubstr("cookies[1].sameSite"));
  EXPECT_THAT(fresh.vesk({"cookies", "get", "early"}).out, HasSubstr("\"found\": false"));

  // Cookies Chromium drops without an error are reported, not counted as loaded.
  const fs::path dropped = session().env().root() / "dropped.json";
  std::ofstream(dropped) << R"({"cookies": [{"name": "old", "value": "1", "domain": "127.0.0.1", "expires": 1000},
                                            {"name": "loose", "value": "2", "domain": "127.0.0.1", "sameSite": "None"}],
                                "origins": []})";
  RunResult partly = fresh.vesk({"state", "load", dropped.string()});
  ASSERT_EQ(partly.status, 0) << describe(partly);
  const Json partly_result = Json::parse(partly.out);
  EXPECT_EQ(partly_result.value("cookies", -1), 0) << partly_result;
  EXPECT_EQ(partly_result["refused"].size(), 2u) << partly_result;
  EXPECT_THAT(partly.out, HasSubstr("SameSite=None needs secure"));

  RunResult loaded = fresh.vesk({"state", "load", file.string()});
  ASSERT_EQ(loaded.status, 0) << describe(loaded);
  EXPECT_THAT(loaded.out, HasSubstr(url("")));
  // The tab that wrote the storage is gone; the user's tab is still the current one.
  const Json tabs = Json::parse(fresh.vesk({"tab", "list"}).out);
  EXPECT_EQ(tabs["tabs"].size(), 1u) << tabs;
  ASSERT_EQ(fresh.vesk({"reload"}).status, 0);
  const std::string after = signin_text(fresh);
  EXPECT_THAT(after, HasSubstr("cookie: signed in"));
  EXPECT_THAT(after, HasSubstr("storage: signed in"));
}

}  // namespace
}  // namespace vesk::test
