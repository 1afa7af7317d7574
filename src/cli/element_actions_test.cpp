// Element actions with their snapshots: baseline, polling until the page changes, merge.
#include <gtest/gtest.h>

#include "cli/browser_commands.hpp"
#include "cli/scripted_browser_test_support.hpp"
#include "language/snapshot_change.hpp"

namespace vesk::cli {
namespace {

using testing_support::Printed;
using testing_support::Request;
using testing_support::run_capturing;
using testing_support::ScriptedBrowser;

TEST(SameJson, NumbersAreEqualOnlyWithinTheirKind) {
  struct Case {
    const char* name;
    Json a;
    Json b;
    bool same;
  };
  const Case cases[] = {
      {"unsigned and float", 1u, 1.0, false},
      {"negative and float", -1, -1.0, false},
      {"signed-held zero and unsigned", Json(0), 0u, true},
      {"negatives", -3, -3, true},
      {"floats", 0.5, 0.5, true},
      {"different floats", 0.5, 0.25, false},
      {"nested kind change", Json{{"a", {1, 2}}}, Json{{"a", {1, 2.0}}}, false},
      {"nested equal", Json{{"a", {1, "x", nullptr}}}, Json{{"a", {1, "x", nullptr}}}, true},
      {"different keys", Json{{"a", 1}}, Json{{"b", 1}}, false},
      {"extra member", Json{{"a", 1}}, Json{{"a", 1}, {"b", 2}}, false},
      {"array length", Json::array({1}), Json::array({1, 1}), false},
      {"string and number", "1", 1, false},
      {"booleans", true, true, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(same_json(c.a, c.b), c.same) << c.name;
    EXPECT_EQ(same_json(c.b, c.a), c.same) << c.name;
  }
}

// A clock that moves only when the poller sleeps.
struct FakeClock {
  std::chrono::steady_clock::time_point now{};
  PollClock poll_clock() {
    return PollClock{[this] { return now; }, [this](std::chrono::milliseconds d) { now += d; }};
  }
};

TEST(AwaitSnapshotChange, PollsUntilTheDeadlineWhenNothingChanges) {
  ScriptedBrowser browser([](const Request&, size_t) -> Result<Json> { return Json{{"snapshot", {{"n", 1}}}}; });
  FakeClock clock;
  auto result = await_snapshot_change(browser.sender(), "4", "element.fill", Json{{"n", 1}}, clock.poll_clock());
  ASSERT_TRUE(result);
  // One poll at 0 ms and one after each 100 ms sleep up to the 2 s deadline.
  EXPECT_EQ(browser.received.size(), 21u);
  for (const auto& request : browser.received) {
    EXPECT_EQ(request.params, (Json{{"tab", "4"}, {"options", {{"diff", true}}}, {"sourceCommand", "element.fill"}}));
  }
}

TEST(AwaitSnapshotChange, StopsAtTheFirstDifferenceOrWithoutBaseline) {
  ScriptedBrowser browser([](const Request&, size_t index) -> Result<Json> {
    return Json{{"snapshot", {{"n", index < 3 ? 1u : 2u}}}};
  });
  FakeClock clock;
  auto changed = await_snapshot_change(browser.sender(), {}, "upload", Json{{"n", 1}}, clock.poll_clock());
  ASSERT_TRUE(changed);
  EXPECT_EQ(browser.received.size(), 4u);
  EXPECT_EQ((*changed)["snapshot"]["n"], 2u);

  browser.received.clear();
  auto first = await_snapshot_change(browser.sender(), {}, "upload", std::nullopt, clock.poll_clock());
  ASSERT_TRUE(first);
  EXPECT_EQ(browser.received.size(), 1u);
}

// A page whose snapshot changes from {"v": 1} to {"v": 2} on the `change_at`-th polled
// snapshot; the action answers {"done": true}.
ScriptedBrowser::Answer page_changing_at(size_t change_at, bool fail_baseline = false) {
  return [=, polls = std::make_shared<size_t>(0)](const Request& request, size_t) -> Result<Json> {
    if (request.method != "page.snapshot") return Json{{"done", true}};
    if (!request.params["options"]["diff"].get<bool>()) {
      if (fail_baseline) return fail("browserError: no page");
      return Json{{"snapshot", {{"v", 1}}}};
    }
    ++*polls;
    return Json{{"snapshot", {{"v", *polls >= change_at ? 2 : 1}}}};
  };
}

const Json kBaselineParams{{"tab", nullptr}, {"options", {{"diff", false}}}, {"sourceCommand", "page.snapshot"}};

TEST(ElementActions, SnapTakesOneSnapshotAfterTheActionAndMergesIt) {
  ScriptedBrowser browser(page_changing_at(1));
  ActionArgs args;
  args.selector = "#q";
  args.args = {"hello"};
  args.snap = true;
  const Printed printed = run_capturing([&] { return run_action_command(browser.sender(), CommandWord::fill, args); });
  ASSERT_TRUE(printed.status);
  EXPECT_EQ(browser.methods(), (std::vector<std::string>{"element.fill", "page.snapshot"}));
  EXPECT_EQ(browser.received[0].params,
            (Json{{"selector", "#q"},
                  {"args", {"hello"}},
                  {"tab", nullptr},
                  {"options", {{"snap", true}, {"snapDiff", false}, {"text", false}, {"waitNav", false},
                               {"dismissBanners", false}, {"mode", nullptr}, {"humanize", false}, {"x", nullptr},
                               {"y", nullptr}, {"dialogAction", nullptr}, {"dialogText", nullptr}}},
                  {"sourceCommand", "element.fill"}}));
  EXPECT_EQ(browser.received[1].params, kBaselineParams);
  EXPECT_EQ(printed.out, "{\n  \"done\": true,\n  \"snapshot\": {\n    \"v\": 1\n  }\n}\n");
}

TEST(ElementActions, SnapDiffPollsUntilThePageChanges) {
  for (const bool also_snap : {false, true}) {
    ScriptedBrowser browser(page_changing_at(3));
    ActionArgs args;
    args.selector = "s";
    args.tab = "9";
    args.snap_diff = true;
    args.snap = also_snap;
    const Printed printed = run_capturing([&] { return run_action_command(browser.sender(), CommandWord::select, args); });
    ASSERT_TRUE(printed.status);
    EXPECT_EQ(browser.methods(), (std::vector<std::string>{"page.snapshot", "element.select", "page.snapshot",
                                                           "page.snapshot", "page.snapshot"}));
    EXPECT_EQ(browser.received[0].params,
              (Json{{"tab", "9"}, {"options", {{"diff", false}}}, {"sourceCommand", "page.snapshot"}}));
    EXPECT_EQ(browser.received[2].params,
              (Json{{"tab", "9"}, {"options", {{"diff", true}}}, {"sourceCommand", "element.select"}}));
    EXPECT_EQ(printed.out, "{\n  \"done\": true,\n  \"snapshot\": {\n    \"v\": 2\n  }\n}\n");
  }
}

TEST(ElementActions, WithoutBaselineOnePolledSnapshotIsTaken) {
  ScriptedBrowser browser(page_changing_at(100, /*fail_baseline=*/true));
  ActionArgs args;
  args.snap_diff = true;
  const Printed printed = run_capturing([&] { return run_action_command(browser.sender(), CommandWord::fill, args); });
  ASSERT_TRUE(printed.status);
  EXPECT_EQ(browser.methods(), (std::vector<std::string>{"page.snapshot", "element.fill", "page.snapshot"}));
  EXPECT_EQ(printed.out, "{\n  \"done\": true,\n  \"snapshot\": {\n    \"v\": 1\n  }\n}\n");
}

TEST(ElementActions, FailuresEndTheCommandBeforeAnythingIsPrinted) {
  struct Case {
    const char* name;
    const char* failing_method;  // the first request of this method fails
    bool snap;
    std::vector<std::string> methods;
  };
  const Case cases[] = {
      {"action", "element.fill", true, {"element.fill"}},
      {"after-snapshot", "page.snapshot", true, {"element.fill", "page.snapshot"}},
  };
  for (const auto& c : cases) {
    ScriptedBrowser browser([&](const Request& request, size_t) -> Result<Json> {
      if (request.method == c.failing_method) return fail("browserError: gone");
      return Json{{"done", true}};
    });
    ActionArgs args;
    args.snap = c.snap;
    const Printed printed = run_capturing([&] { return run_action_command(browser.sender(), CommandWord::fill, args); });
    ASSERT_FALSE(printed.status) << c.name;
    EXPECT_EQ(printed.status.error().text(), "browserError: gone") << c.name;
    EXPECT_EQ(browser.methods(), c.methods) << c.name;
    EXPECT_EQ(printed.out, "") << c.name;
  }
}

TEST(ElementActions, AResultThatIsNotAnObjectIsPrintedUnchanged) {
  ScriptedBrowser browser([](const Request& request, size_t) -> Result<Json> {
    if (request.method == "page.snapshot") return Json{{"snapshot", {{"v", 1}}}};
    return Json("filled");
  });
  ActionArgs args;
  args.snap = true;
  const Printed printed = run_capturing([&] { return run_action_command(browser.sender(), CommandWord::fill, args); });
  ASSERT_TRUE(printed.status);
  EXPECT_EQ(printed.out, "\"filled\"\n");
}

TEST(ElementActions, MergeReplacesAnExistingSnapshotMember) {
  Json result{{"snapshot", "old"}, {"ok", true}};
  merge_snapshot(result, Json{{"nodes", Json::array()}});
  EXPECT_EQ(result, (Json{{"snapshot", {{"nodes", Json::array()}}}, {"ok", true}}));
}

}  // namespace
}  // namespace vesk::cli
