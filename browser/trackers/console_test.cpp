// Console and error records from DevTools event params, without a browser.
#include "browser/trackers/console.hpp"

#include <cmath>

#include <gtest/gtest.h>

#include "browser/trackers/page_errors.hpp"

namespace vesk::browser {
namespace {

Json str(const std::string& text) { return {{"type", "string"}, {"value", text}}; }
// A number as Chromium sends it: whole numbers are described without a fraction ("42").
Json num(double value) {
  const std::string description =
      value == std::trunc(value) ? std::to_string(static_cast<long long>(value)) : Json(value).dump();
  return {{"type", "number"}, {"value", value}, {"description", description}};
}

TEST(ConsoleText, RendersArgumentsAsTheDevToolsConsoleDoes) {
  const Json object = {{"type", "object"},
                       {"className", "Object"},
                       {"description", "Object"},
                       {"preview",
                        {{"type", "object"},
                         {"overflow", false},
                         {"properties",
                          Json::array({{{"name", "a"}, {"type", "number"}, {"value", "1"}},
                                       {{"name", "b"}, {"type", "string"}, {"value", "x"}},
                                       {{"name", "c"}, {"type", "object"}, {"subtype", "null"}, {"value", "null"}}})}}}};
  const Json array = {{"type", "object"},
                      {"subtype", "array"},
                      {"description", "Array(3)"},
                      {"preview",
                       {{"type", "object"},
                        {"subtype", "array"},
                        {"overflow", true},
                        {"properties", Json::array({{{"name", "0"}, {"type", "number"}, {"value", "1"}}})}}}};
  const Json error = {{"type", "object"}, {"subtype", "error"}, {"description", "Error: boom\n    at f (a.js:1:2)"}};
  struct Case {
    const char* name;
    Json args;
    std::string text;
  };
  const Case cases[] = {
      {"plain words", Json::array({str("hello"), str("world")}), "hello world"},
      {"primitives", Json::array({num(42), Json{{"type", "boolean"}, {"value", true}}, Json{{"type", "undefined"}},
                                  Json{{"type", "object"}, {"subtype", "null"}, {"value", nullptr}}}),
       "42 true undefined null"},
      {"format specifiers", Json::array({str("%s has %d items (%f%%) %c!"), str("cart"), num(3.7), num(0.5), str("color: red")}),
       "cart has 3 items (0.5%) !"},
      {"more specifiers than values", Json::array({str("%s and %s"), str("one")}), "one and %s"},
      {"object and array previews", Json::array({str("got"), object, array}), "got {a: 1, b: 'x', c: null} [1, …]"},
      {"an error keeps its stack", Json::array({error}), "Error: boom\n    at f (a.js:1:2)"},
      {"special numbers", Json::array({Json{{"type", "number"}, {"unserializableValue", "-Infinity"}, {"description", "-Infinity"}}}),
       "-Infinity"},
      {"nothing", Json::array(), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(render_console_args(c.args), c.text) << c.name;
}

TEST(ConsoleLevels, RankAndMapConsoleFunctions) {
  EXPECT_EQ(console_level_of("warning"), "warning");
  EXPECT_EQ(console_level_of("assert"), "error");
  EXPECT_EQ(console_level_of("table"), "info");
  EXPECT_LT(console_level_rank("debug"), console_level_rank("info"));
  EXPECT_LT(console_level_rank("warning"), console_level_rank("error"));
  EXPECT_EQ(console_level_rank("loud"), -1);
}

TEST(ConsoleTracker, KeepsTheNewestMessagesAndCountsTheDropped) {
  ConsoleTracker tracker;
  const std::size_t logged = ConsoleTracker::kCapacity + 5;
  for (std::size_t i = 0; i < logged; ++i) {
    tracker.on_event(CdpEvent{"Runtime.consoleAPICalled",
                              {{"type", "log"}, {"args", Json::array({str(std::to_string(i))})}, {"timestamp", 1.0e12}},
                              "S1",
                              i});
  }
  auto contents = tracker.read(true);
  ASSERT_EQ(contents.entries.size(), ConsoleTracker::kCapacity);
  EXPECT_EQ(contents.dropped, 5u);
  EXPECT_EQ(contents.entries.front().text, "5");
  EXPECT_EQ(contents.entries.back().text, std::to_string(logged - 1));
  EXPECT_TRUE(tracker.read(false).entries.empty());
}

TEST(PageErrors, UncaughtErrorsAndRejectionsKeepMessageAndStack) {
  const Json thrown = {{"timestamp", 1.7e12},
                       {"exceptionDetails",
                        {{"text", "Uncaught"},
                         {"lineNumber", 9},
                         {"columnNumber", 4},
                         {"url", "http://x/p.html"},
                         {"exception", {{"type", "object"}, {"subtype", "error"}, {"description", "Error: boom\n    at explode (http://x/p.html:10:5)"}}},
                         {"stackTrace",
                          {{"callFrames", Json::array({{{"functionName", "explode"}, {"url", "http://x/p.html"}, {"lineNumber", 9}, {"columnNumber", 4}},
                                                        {{"functionName", ""}, {"url", "http://x/p.html"}, {"lineNumber", 12}, {"columnNumber", 0}}})}}}}}};
  PageError error = page_error_of(thrown);
  EXPECT_EQ(error.message, "Error: boom");
  EXPECT_EQ(error.line, 10);
  ASSERT_EQ(error.stack.size(), 2u);
  EXPECT_EQ(error.stack[0].function, "explode");
  EXPECT_EQ(error.stack[0].column, 5);
  EXPECT_EQ(error.stack[1].line, 13);

  const Json rejected = {{"exceptionDetails",
                          {{"text", "Uncaught (in promise)"},
                           {"exception", {{"type", "string"}, {"value", "no"}}}}}};
  EXPECT_EQ(page_error_of(rejected).message, "Uncaught (in promise) no");
}

TEST(PageErrors, ARejectionHandledLaterIsTakenOffTheList) {
  PageErrorTracker tracker;
  for (int id : {7, 8}) {
    tracker.on_event(CdpEvent{"Runtime.exceptionThrown",
                              {{"exceptionDetails", {{"exceptionId", id}, {"text", "Uncaught (in promise)"},
                                                     {"exception", {{"type", "string"}, {"value", std::to_string(id)}}}}}},
                              "S1", 0});
  }
  tracker.on_event(CdpEvent{"Runtime.exceptionRevoked", {{"reason", "Handler added to rejected promise"}, {"exceptionId", 7}}, "S1", 0});
  const auto contents = tracker.read(false);
  ASSERT_EQ(contents.entries.size(), 1u);
  EXPECT_EQ(contents.entries[0].message, "Uncaught (in promise) 8");
  EXPECT_EQ(contents.dropped, 0u);
}

}  // namespace
}  // namespace vesk::browser
