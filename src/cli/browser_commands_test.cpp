// What each browser command sends and prints, checked against a scripted browser.
#include <cmath>
#include <filesystem>

#include <gtest/gtest.h>

#include "cli/browser_commands.hpp"
#include "cli/scripted_browser_test_support.hpp"

namespace vesk::cli {
namespace {

using testing_support::Printed;
using testing_support::run_capturing;
using testing_support::ScriptedBrowser;

TEST(RawCommands, EachWordSendsItsMethodWithTheWordsAndTab) {
  const std::pair<CommandWord, const char*> cases[] = {
      {CommandWord::type, "element.type"}, {CommandWord::dblclick, "element.dblclick"},
      {CommandWord::hover, "element.hover"}, {CommandWord::focus, "element.focus"},
      {CommandWord::value, "element.value"}, {CommandWord::attr, "element.attr"},
      {CommandWord::count, "element.count"}, {CommandWord::box, "element.box"},
      {CommandWord::visible, "element.visible"}, {CommandWord::enabled, "element.enabled"},
      {CommandWord::checked, "element.checked"}, {CommandWord::check, "element.check"},
      {CommandWord::uncheck, "element.uncheck"}, {CommandWord::scrollintoview, "element.scrollintoview"},
      {CommandWord::scroll, "page.scroll"}, {CommandWord::eval, "page.eval"},
      {CommandWord::text, "page.text"}, {CommandWord::title, "page.title"},
      {CommandWord::url, "page.url"}, {CommandWord::html, "page.html"},
      {CommandWord::styles, "page.styles"}, {CommandWord::find, "page.find"},
      {CommandWord::wait, "page.wait"}, {CommandWord::capture, "page.capture"},
      {CommandWord::keydown, "keyboard.keydown"}, {CommandWord::keyup, "keyboard.keyup"},
      {CommandWord::press, "keyboard.press"}, {CommandWord::drag, "mouse.drag"},
      {CommandWord::close, "tab.close"}, {CommandWord::handoff, "tab.handoff"},
      {CommandWord::resume, "tab.resume"}, {CommandWord::handoff_status, "tab.handoffStatus"},
      {CommandWord::set, "emulation.set"}, {CommandWord::frame, "frame"},
      {CommandWord::network, "network"}, {CommandWord::keyboard, "keyboard"},
      {CommandWord::dialog, "dialog"}, {CommandWord::console, "console"},
      {CommandWord::errors, "errors"}, {CommandWord::clipboard, "clipboard"},
      {CommandWord::cache, "cache"}, {CommandWord::cookies, "cookies"},
      {CommandWord::storage, "storage"}, {CommandWord::state, "state"},
      {CommandWord::record, "record"}, {CommandWord::quick, "quick"},
  };
  ASSERT_EQ(std::size(cases), 46u);
  for (const auto& [word, method] : cases) {
    ScriptedBrowser browser;
    const RawBrowserArgs args{"7", {"a", "--tab", "-x"}};
    const Printed printed = run_capturing([&] { return run_raw_browser_command(browser.sender(), word, args); });
    ASSERT_TRUE(printed.status) << method;
    ASSERT_EQ(browser.received.size(), 1u) << method;
    EXPECT_EQ(browser.received[0].method, method);
    EXPECT_EQ(browser.received[0].params,
              (Json{{"args", {"a", "--tab", "-x"}}, {"tab", "7"}, {"sourceCommand", method}}));
    EXPECT_EQ(printed.out, "{\n  \"ok\": true\n}\n") << method;
  }
  for (const CommandWord other : {CommandWord::click, CommandWord::mouse, CommandWord::nav, CommandWord::server}) {
    EXPECT_FALSE(raw_command_method(other)) << command_word_text(other);
  }
}

// The words that name files reach the browser absolute, against the folder vesk runs in;
// every other word, and a path already absolute, goes unchanged.
TEST(RawCommands, FileWordsAreSentAbsolute) {
  // Against the current folder, with the system's separator.
  const auto here = [](const std::string& relative) {
    return (std::filesystem::current_path() / std::filesystem::path(relative).make_preferred()).string();
  };
  const std::string absolute = (std::filesystem::current_path().root_path() / "abs" / "s.json").string();
  struct Case {
    CommandWord word;
    std::vector<std::string> words;
    std::vector<std::string> sent;
  };
  const Case cases[] = {
      {CommandWord::state, {"save", "s.json"}, {"save", here("s.json")}},
      {CommandWord::state, {"load", absolute}, {"load", absolute}},
      {CommandWord::state, {"save"}, {"save"}},
      {CommandWord::network, {"har", "stop", "a.har"}, {"har", "stop", here("a.har")}},
      {CommandWord::network, {"get", "3", "--out", "b"}, {"get", "3", "--out", here("b")}},
      {CommandWord::network, {"route", "*x*", "--body-file", "d/b.json", "--status", "201"},
       {"route", "*x*", "--body-file", here("d/b.json"), "--status", "201"}},
      {CommandWord::html, {"--out", "p.html", "#main"}, {"--out", here("p.html"), "#main"}},
      {CommandWord::eval, {"--max-bytes", "9", "--out", "v", "f('--out', x)"},
       {"--max-bytes", "9", "--out", here("v"), "f('--out', x)"}},
      {CommandWord::eval, {"go", "--out", "x"}, {"go", "--out", "x"}},
      {CommandWord::capture, {"-o", "cap"}, {"-o", here("cap")}},
      {CommandWord::record, {"start", "--fps", "10", "v.webm"}, {"start", "--fps", "10", here("v.webm")}},
      {CommandWord::record, {"trace", "stop", "t.json"}, {"trace", "stop", here("t.json")}},
      {CommandWord::record, {"stop"}, {"stop"}},
      {CommandWord::type, {"#q", "--out", "x"}, {"#q", "--out", "x"}},
      {CommandWord::cookies, {"set", "a", "b.json"}, {"set", "a", "b.json"}},
  };
  for (const Case& c : cases) {
    ScriptedBrowser browser;
    ASSERT_TRUE(run_capturing([&] { return run_raw_command(browser.sender(), c.word, {std::nullopt, c.words}); }).status);
    EXPECT_EQ(browser.received.at(0).params["args"], Json(c.sent)) << command_word_text(c.word);
  }
}

TEST(RawCommands, TitleWithoutWordsSendsAnEmptyArrayAndNullTab) {
  ScriptedBrowser browser([](const auto&, size_t) -> Result<Json> { return Json("Example"); });
  const Printed printed = run_capturing([&] { return run_raw_command(browser.sender(), CommandWord::title, {}); });
  ASSERT_TRUE(printed.status);
  EXPECT_EQ(browser.received.at(0).params.dump(), R"({"args":[],"sourceCommand":"page.title","tab":null})");
  EXPECT_EQ(printed.out, "\"Example\"\n");
}

TEST(RawCommands, ABatchThatStoppedIsPrintedWholeAndFailsTheCommand) {
  const Json answer{{"ok", false},
                    {"stoppedAt", 2},
                    {"results",
                     {{{"command", "title"}, {"result", {{"title", "T"}}}},
                      {{"command", "click e9"}, {"error", {{"code", "elementNotFound"}, {"message", "no e9"}}}}}}};
  ScriptedBrowser browser([&](const auto&, size_t) -> Result<Json> { return answer; });
  const Printed printed = run_capturing(
      [&] { return run_raw_command(browser.sender(), CommandWord::quick, {std::nullopt, {"title", "click e9", "url"}}); });
  ASSERT_FALSE(printed.status);
  EXPECT_EQ(printed.status.error().text(),
            "quick: command 2 (click e9) failed: elementNotFound: no e9; the commands after it did not run");
  EXPECT_NE(printed.out.find("\"stoppedAt\": 2"), std::string::npos);
  EXPECT_EQ(browser.received.at(0).params["args"], (Json{"title", "click e9", "url"}));
}

TEST(RawCommands, AFailingRequestPrintsNothing) {
  ScriptedBrowser browser([](const auto&, size_t) -> Result<Json> { return fail("noBrowser: no browser connected"); });
  const Printed printed = run_capturing([&] { return run_raw_command(browser.sender(), CommandWord::url, {}); });
  ASSERT_FALSE(printed.status);
  EXPECT_EQ(printed.status.error().text(), "noBrowser: no browser connected");
  EXPECT_EQ(printed.out, "");
}

const Json kClickOptions{{"snap", false},   {"snapDiff", false}, {"text", false}, {"waitNav", false},
                         {"dismissBanners", false}, {"mode", nullptr}, {"humanize", false}};

struct ClickCase {
  const char* name;
  ActionArgs args;
  std::string method;
  Json x;  // for mouse clicks: the expected coordinates
  Json y;
};

TEST(Click, CoordinatesBecomeAMouseClickAndAnythingElseAnElementClick) {
  auto with_xy = [](std::optional<std::string> selector, std::vector<std::string> words, std::optional<double> x,
                    std::optional<double> y) {
    ActionArgs args;
    args.selector = std::move(selector);
    args.args = std::move(words);
    args.x = x;
    args.y = y;
    return args;
  };
  const ClickCase cases[] = {
      {"two numbers", with_xy("10", {"20"}, {}, {}), "mouse.click", 10.0, 20.0},
      {"decimal forms", with_xy("-1.5e1", {"+.5"}, {}, {}), "mouse.click", -15.0, 0.5},
      {"options win over words", with_xy("e1", {"x"}, 5.0, 7.0), "mouse.click", 5.0, 7.0},
      {"infinite coordinate is null", with_xy("inf", {"2"}, {}, {}), "mouse.click", nullptr, 2.0},
      {"second word not a number", with_xy("10", {"abc"}, {}, {}), "element.click", {}, {}},
      {"single word", with_xy("10", {}, {}, {}), "element.click", {}, {}},
      {"three words", with_xy("10", {"20", "30"}, {}, {}), "element.click", {}, {}},
      {"only --x", with_xy("e1", {}, 5.0, {}), "element.click", {}, {}},
      {"hexadecimal is not decimal", with_xy("0x10", {"2"}, {}, {}), "element.click", {}, {}},
  };
  for (const auto& c : cases) {
    ScriptedBrowser browser;
    const Printed printed = run_capturing([&] { return run_action_command(browser.sender(), CommandWord::click, c.args); });
    ASSERT_TRUE(printed.status) << c.name;
    ASSERT_EQ(browser.received.size(), 1u) << c.name;
    const auto& [method, params] = browser.received[0];
    EXPECT_EQ(method, c.method) << c.name;
    if (c.method == "mouse.click") {
      EXPECT_EQ(params, (Json{{"x", c.x}, {"y", c.y}, {"tab", nullptr}, {"options", kClickOptions},
                              {"sourceCommand", "click"}}))
          << c.name;
      if (c.x.is_number()) {
        EXPECT_TRUE(params["x"].is_number_float()) << c.name;
      }
    } else {
      EXPECT_EQ(params["selector"], c.args.selector.value_or("")) << c.name;
      EXPECT_EQ(params["sourceCommand"], "element.click") << c.name;
    }
  }
}

TEST(Click, WholeNumberCoordinatesPrintAsFloatsOnTheWire) {
  ScriptedBrowser browser;
  ActionArgs args;
  args.selector = "120";
  args.args = {"340"};
  run_capturing([&] { return run_click(browser.sender(), args); });
  ASSERT_EQ(browser.received.size(), 1u);
  EXPECT_EQ(browser.received[0].params["x"].dump(), "120.0");
}

TEST(Mouse, OnlyClickWithTwoNumbersBecomesAMouseClick) {
  struct Case {
    std::vector<std::string> words;
    const char* method;
    Json params;
  };
  const Case cases[] = {
      {{"click", "5", "6"}, "mouse.click", {{"x", 5.0}, {"y", 6.0}, {"tab", "t"}, {"sourceCommand", "mouse.click"}}},
      {{"click", "5"}, "mouse", {{"args", {"click", "5"}}, {"tab", "t"}, {"sourceCommand", "mouse"}}},
      {{"move", "5", "6"}, "mouse", {{"args", {"move", "5", "6"}}, {"tab", "t"}, {"sourceCommand", "mouse"}}},
      {{"click", "5", "y"}, "mouse", {{"args", {"click", "5", "y"}}, {"tab", "t"}, {"sourceCommand", "mouse"}}},
  };
  for (const auto& c : cases) {
    ScriptedBrowser browser;
    const Printed printed = run_capturing(
        [&] { return run_raw_browser_command(browser.sender(), CommandWord::mouse, RawBrowserArgs{"t", c.words}); });
    ASSERT_TRUE(printed.status);
    ASSERT_EQ(browser.received.size(), 1u);
    EXPECT_EQ(browser.received[0].method, c.method);
    EXPECT_EQ(browser.received[0].params, c.params) << c.method;
  }
}

TEST(TabCommand, FirstWordPicksTheMethodAndOtherWordsAreTabIds) {
  struct Case {
    std::optional<std::string> first;
    std::optional<std::string> second;
    const char* method;
    Json args;
    Json tab;
  };
  const Case cases[] = {
      {{}, {}, "tab.list", Json::array(), nullptr},
      {"list", {}, "tab.list", {"list"}, nullptr},
      {"3", {}, "tab.focus", {"3"}, "3"},
      {"close", "3", "tab.close", {"close", "3"}, "3"},
      {"Close", {}, "tab.focus", {"Close"}, "Close"},
      {"new", {}, "tab.open", {"new"}, nullptr},
      {"open", "x", "tab.open", {"open", "x"}, "x"},
      {"resume", "2", "tab.resume", {"resume", "2"}, "2"},
      {"handoff", {}, "tab.handoff", {"handoff"}, nullptr},
      {"handoff-status", "4", "tab.handoffStatus", {"handoff-status", "4"}, "4"},
  };
  for (const auto& c : cases) {
    ScriptedBrowser browser;
    const Printed printed =
        run_capturing([&] { return run_tab_command(browser.sender(), TabArgs{c.first, c.second}); });
    ASSERT_TRUE(printed.status);
    ASSERT_EQ(browser.received.size(), 1u);
    EXPECT_EQ(browser.received[0].method, c.method);
    EXPECT_EQ(browser.received[0].params, (Json{{"args", c.args}, {"tab", c.tab}, {"sourceCommand", c.method}}))
        << c.first.value_or("(none)");
  }
}

TEST(HistoryCommands, ForwardTheOptionsWithoutATab) {
  const std::pair<CommandWord, const char*> cases[] = {
      {CommandWord::back, "nav.back"}, {CommandWord::forward, "nav.forward"}, {CommandWord::reload, "nav.reload"}};
  for (const auto& [word, method] : cases) {
    ScriptedBrowser browser;
    const AfterActionArgs args{.snap = true, .snap_diff = false, .text = true, .dismiss_banners = false};
    const Printed printed = run_capturing([&] { return run_history_command(browser.sender(), word, args); });
    ASSERT_TRUE(printed.status);
    ASSERT_EQ(browser.received.size(), 1u) << "the command line takes no snapshot itself";
    EXPECT_EQ(browser.received[0].method, method);
    EXPECT_EQ(browser.received[0].params,
              (Json{{"options", {{"snap", true}, {"snapDiff", false}, {"text", true}, {"dismissBanners", false}}},
                    {"sourceCommand", method}}));
  }
}

TEST(SnapshotCommands, SnapshotSendsExactlyAnEmptyObject) {
  ScriptedBrowser browser;
  const Printed printed = run_capturing([&] { return run_snapshot(browser.sender()); });
  ASSERT_TRUE(printed.status);
  EXPECT_EQ(browser.received.at(0).method, "page.snapshot");
  EXPECT_EQ(browser.received.at(0).params.dump(), "{}");
}

TEST(SnapshotCommands, SnapSendsEveryOptionAndListsWhenInteractive) {
  const Json snapshot{{"title", "T"}, {"url", "u"}, {"nodes", {{{"id", "e1"}, {"role", "link"}, {"name", "Home"}}}}};
  {
    ScriptedBrowser browser([&](const auto&, size_t) -> Result<Json> { return snapshot; });
    const Printed printed = run_capturing([&] { return run_snap(browser.sender(), SnapArgs{}); });
    ASSERT_TRUE(printed.status);
    EXPECT_EQ(browser.received.at(0).params,
              (Json{{"selector", nullptr},
                    {"tab", nullptr},
                    {"options", {{"full", false}, {"diff", false}, {"interactive", false}, {"compact", false},
                                 {"maxTokens", nullptr}}},
                    {"sourceCommand", "page.snapshot"}}));
    EXPECT_EQ(printed.out.front(), '{');
  }
  {
    ScriptedBrowser browser([&](const auto&, size_t) -> Result<Json> { return Json{{"snapshot", snapshot}}; });
    SnapArgs args;
    args.selector = "main";
    args.interactive = true;
    args.max_tokens = 4294967295u;
    const Printed printed = run_capturing([&] { return run_snap(browser.sender(), args); });
    ASSERT_TRUE(printed.status);
    EXPECT_EQ(browser.received.at(0).params["options"]["maxTokens"], 4294967295u);
    EXPECT_EQ(browser.received.at(0).params["selector"], "main");
    EXPECT_EQ(printed.out, "# T | u | 1 nodes\ne1:link \"Home\"\n");
  }
}

TEST(Navigation, SendsEveryOptionAndRunsTheFollowUpsInOrder) {
  ScriptedBrowser browser([](const testing_support::Request& request, size_t) -> Result<Json> {
    return Json{{"from", request.method}};
  });
  NavArgs args;
  args.url = "https://example.org/";
  args.snap = true;
  args.capture = true;
  args.print_tab_id = true;
  const Printed printed = run_capturing([&] { return run_navigation(browser.sender(), args); });
  ASSERT_TRUE(printed.status);
  EXPECT_EQ(browser.methods(), (std::vector<std::string>{"tab.navigate", "page.snapshot", "page.capture"}));
  EXPECT_EQ(browser.received[0].params,
            (Json{{"url", "https://example.org/"},
                  {"newTab", false},
                  {"tab", nullptr},
                  {"options", {{"snap", true}, {"snapDiff", false}, {"text", false}, {"blockImages", false},
                               {"blockAds", false}, {"dismissBanners", false}, {"printTabId", true},
                               {"pdf", false}, {"screenshot", false}, {"capture", true}}}}));
  EXPECT_EQ(browser.received[1].params.dump(), "{}");
  EXPECT_EQ(browser.received[2].params.dump(), "{}");
  EXPECT_EQ(printed.out,
            "{\n  \"from\": \"tab.navigate\"\n}\n{\n  \"from\": \"page.snapshot\"\n}\n"
            "{\n  \"from\": \"page.capture\"\n}\n");
  EXPECT_NE(printed.err.find("vesk INFO navigation complete; requesting snapshot\n"), std::string::npos);
  EXPECT_NE(printed.err.find("vesk INFO navigation complete; requesting capture\n"), std::string::npos);
  EXPECT_EQ(printed.err.find("requesting PDF"), std::string::npos);
}

TEST(Navigation, AFailingFollowUpEndsTheCommandKeepingWhatWasPrinted) {
  ScriptedBrowser browser([](const testing_support::Request& request, size_t) -> Result<Json> {
    if (request.method == "page.pdf") return fail("browserError: printing failed");
    return Json{{"from", request.method}};
  });
  NavArgs args;
  args.url = "u";
  args.pdf = true;
  args.screenshot = true;
  const Printed printed = run_capturing([&] { return run_navigation(browser.sender(), args); });
  ASSERT_FALSE(printed.status);
  EXPECT_EQ(printed.status.error().text(), "browserError: printing failed");
  EXPECT_EQ(browser.methods(), (std::vector<std::string>{"tab.navigate", "page.pdf"}));
  EXPECT_EQ(printed.out, "{\n  \"from\": \"tab.navigate\"\n}\n");
}

TEST(ProfileCommands, SendTheirFieldsWithoutSourceCommand) {
  const std::tuple<ProfileCommand, const char*, Json> cases[] = {
      {{ProfileList{}}, "profile.list", Json::object()},
      {{ProfileCreate{"work"}}, "profile.create", {{"name", "work"}}},
      {{ProfileOpen{"p1"}}, "profile.open", {{"id", "p1"}}},
      {{ProfileDelete{"p2"}}, "profile.delete", {{"id", "p2"}}},
  };
  for (const auto& [command, method, params] : cases) {
    ScriptedBrowser browser;
    const Printed printed = run_capturing([&] { return run_profile_command(browser.sender(), command); });
    ASSERT_TRUE(printed.status);
    EXPECT_EQ(browser.received.at(0).method, method);
    EXPECT_EQ(browser.received.at(0).params, params);
  }
}

}  // namespace
}  // namespace vesk::cli
