// End to end: what `vesk set` makes a page see, and browser profiles (create, list, open
// with the tabs carried over, delete refused while in use, names that are no folder name).
#include <gmock/gmock.h>

#include <unistd.h>

#include "e2e_support.hpp"
#include "store/state.hpp"

namespace vesk::test {
namespace {

using ::testing::HasSubstr;

class Emulation : public RealBrowserTest {};

TEST_F(Emulation, ThePageSeesEachSettingUntilReset) {
  ASSERT_TRUE(ok({"nav", session().http().url("/demo.html")}).is_object());
  struct Case {
    std::vector<std::string> set;
    const char* script;
    Json expected;
  } cases[] = {
      {{"viewport", "390x844x3"}, "[innerWidth, devicePixelRatio]", Json::array({390, 3})},
      {{"ua", "VeskAgent/1.0"}, "navigator.userAgent", "VeskAgent/1.0"},
      {{"timezone", "Asia/Tokyo"}, "Intl.DateTimeFormat().resolvedOptions().timeZone", "Asia/Tokyo"},
      {{"locale", "de-DE"}, "[navigator.language, Intl.DateTimeFormat().resolvedOptions().locale]",
       Json::array({"de-DE", "de-DE"})},
      {{"color-scheme", "dark"}, "matchMedia('(prefers-color-scheme: dark)').matches", true},
      {{"geo", "52.52", "13.405", "25"},
       "new Promise((ok) => navigator.geolocation.getCurrentPosition((p) => ok([p.coords.latitude, "
       "p.coords.longitude]), (e) => ok(e.message)))",
       Json::array({52.52, 13.405})},
      // (a new URL each time: the cache would answer a repeated one while offline)
      {{"offline", "on"}, "fetch('/demo.html?' + Math.random()).then(() => 'fetched', () => 'failed')", "failed"},
      {{"offline", "off"}, "fetch('/demo.html?' + Math.random()).then(() => 'fetched', () => 'failed')", "fetched"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> command = {"set"};
    command.insert(command.end(), c.set.begin(), c.set.end());
    const Json answer = ok(command);
    EXPECT_TRUE(at(answer, "settings").is_object()) << answer.dump();
    EXPECT_EQ(at(ok({"eval", c.script}), "value"), c.expected) << joined(command);
  }
  // Settings hold across a navigation, and `set` shows them.
  ok({"reload"});
  EXPECT_EQ(at(ok({"eval", "innerWidth"}), "value"), 390);
  const Json shown = at(ok({"set"}), "settings");
  EXPECT_EQ(shown.value("timezone", ""), "Asia/Tokyo");
  EXPECT_EQ(shown.value("colorScheme", ""), "dark");

  const Json reset = ok({"set", "reset"});
  EXPECT_EQ(at(reset, "settings"), Json::object());
  EXPECT_NE(at(ok({"eval", "innerWidth"}), "value"), 390);
  EXPECT_EQ(at(ok({"eval", "matchMedia('(prefers-color-scheme: dark)').matches"}), "value"), false);
  EXPECT_NE(at(ok({"eval", "navigator.userAgent"}), "value"), "VeskAgent/1.0");

  for (const auto& bad : std::vector<std::vector<std::string>>{
           {"set", "viewport", "400xabc"}, {"set", "device", "Nokia 3310"}, {"set", "timezone", "Mars/Olympus"},
           {"set", "color-scheme", "blue"}}) {
    RunResult result = session().vesk(bad);
    EXPECT_NE(result.status, 0) << joined(bad);
    EXPECT_THAT(result.err, HasSubstr("invalidArgument: ")) << joined(bad);
  }
  const Json devices = at(ok({"set", "device", "list"}), "devices");
  EXPECT_GT(devices.size(), 5u);
}

class Profiles : public RealBrowserTest {};

TEST_F(Profiles, CreateListOpenAndDeleteWithTheirRefusals) {
  const std::string url = session().http().url("/demo.html");
  ASSERT_TRUE(ok({"nav", url}).is_object());
  const Json created = ok({"profile", "create", "work"});
  EXPECT_EQ(at(created, "created"), "work");
  fails_with({"profile", "create", "work"}, "profileExists");
  for (const std::string bad : {"..", "../escape", "a/b", "con", "what?", "dot."}) {
    fails_with({"profile", "create", bad}, "invalidArgument");
    fails_with({"profile", "delete", bad}, "invalidArgument");
  }
  EXPECT_FALSE(std::filesystem::exists(session().env().data_dir() / "escape"));

  const Json listed = ok({"profile", "list"});
  EXPECT_EQ(at(listed, "current"), "default");
  std::vector<std::string> ids;
  for (const auto& profile : at(listed, "profiles")) ids.push_back(profile.value("id", ""));
  EXPECT_THAT(ids, ::testing::IsSupersetOf({"default", "work"}));
  fails_with({"profile", "delete", "default"}, "profileInUse");

  // Another instance recorded as running on a profile keeps it from being deleted.
  ok({"profile", "create", "busy"});
  Json state = session().env().read_state();
  state["instances"].push_back({{"id", "inst_otherone"}, {"profileId", "busy"}, {"mode", "headless"},
                                {"pid", static_cast<std::uint32_t>(::getpid())}, {"host", "127.0.0.1"},
                                {"port", 1}, {"token", "t"}, {"status", "running"},
                                {"createdAt", "2026-01-01T00:00:00Z"}});
  session().env().write_state(state);
  RunResult busy = session().vesk({"profile", "delete", "busy"});
  EXPECT_THAT(busy.err, HasSubstr("profileInUse: "));
  EXPECT_THAT(busy.err, HasSubstr("inst_otherone"));
  state["instances"].erase(state["instances"].size() - 1);
  session().env().write_state(state);
  EXPECT_EQ(at(ok({"profile", "delete", "busy"}), "deleted"), "busy");

  // Opening a profile restarts Chromium on it with the same tabs.
  const Json opened = ok({"profile", "open", "work"});
  EXPECT_EQ(at(opened, "profile"), "work");
  EXPECT_EQ(at(opened, "previousProfile"), "default");
  ASSERT_EQ(at(opened, "tabs").size(), 1u) << opened.dump();
  EXPECT_EQ(at(opened, "tabs")[0].value("url", ""), url);
  EXPECT_EQ(at(ok({"url"}), "url"), url);
  EXPECT_EQ(at(ok({"profile", "list"}), "current"), "work");
  fails_with({"profile", "delete", "work"}, "profileInUse");
  fails_with({"profile", "open", "nowhere"}, "profileNotFound");
}

}  // namespace
}  // namespace vesk::test
