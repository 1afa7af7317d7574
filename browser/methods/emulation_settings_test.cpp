#include "browser/methods/emulation_settings.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace vesk::browser {
namespace {

std::vector<std::string> split(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The settings after `line`, as the answer shows them (or "error: ..." with the text).
std::string after(const std::string& line, const EmulationSettings& current = {}) {
  auto request = read_emulation_words(split(line), current);
  if (!request) return "error: " + request.error();
  if (std::holds_alternative<ShowSettings>(*request)) return "show";
  if (std::holds_alternative<ListDevices>(*request)) return "list";
  return settings_json(std::get<ChangeSettings>(*request).settings).dump();
}

TEST(EmulationWords, ReadIntoSettings) {
  struct Case {
    const char* line;
    const char* expected;  // the settings JSON, or the start of the answer
  } cases[] = {
      {"", "show"},
      {"device list", "list"},
      {"viewport 390x844",
       R"({"viewport":{"deviceScaleFactor":1.0,"height":844,"landscape":false,"mobile":false,"touch":false,"width":390}})"},
      {"viewport 390x844x3 --mobile --touch --landscape",
       R"({"viewport":{"deviceScaleFactor":3.0,"height":390,"landscape":true,"mobile":true,"touch":true,"width":844}})"},
      {"viewport 1280x800x1.5",
       R"({"viewport":{"deviceScaleFactor":1.5,"height":800,"landscape":false,"mobile":false,"touch":false,"width":1280}})"},
      {"geo 52.52 13.405", R"({"geolocation":{"accuracy":100.0,"latitude":52.52,"longitude":13.405}})"},
      {"geo -33.9 151.2 5", R"({"geolocation":{"accuracy":5.0,"latitude":-33.9,"longitude":151.2}})"},
      {"color-scheme dark", R"({"colorScheme":"dark"})"},
      {"reduced-motion reduce", R"({"reducedMotion":"reduce"})"},
      {"media print", R"({"media":"print"})"},
      {"offline on", R"({"offline":true})"},
      {"offline off", "{}"},
      {"network slow-3g", R"({"network":"slow-3g"})"},
      {"network off", "{}"},
      {"cpu 4", R"({"cpuRate":4.0})"},
      {"cpu 1", "{}"},
      {"headers X-Test:a X-Other:b", R"({"headers":{"X-Other":"b","X-Test":"a"}})"},
      {"headers", "{}"},
      {"timezone Asia/Tokyo", R"({"timezone":"Asia/Tokyo"})"},
      {"locale de-DE", R"({"locale":"de-DE"})"},
      {"ua Vesk Agent/1", R"({"userAgent":"Vesk Agent/1"})"},
      {"reset", "{}"},
      {"viewport 400xabc", "error: \"400xabc\" is not a viewport size"},
      {"viewport 400", "error: \"400\" is not a viewport size"},
      {"viewport 400x300x0", "error: viewport \"400x300x0\": the pixel ratio"},
      {"viewport 0x300", "error: viewport \"0x300\": width and height"},
      {"viewport 400x300x2x1", "error: \"400x300x2x1\" is not a viewport size"},
      {"viewport -1x300", "error: viewport \"-1x300\": width and height"},
      {"viewport 400x300 --tablet", "error: unknown viewport word \"--tablet\""},
      {"viewport", "error: set viewport needs a size"},
      {"device Nokia 3310", "error: unknown device \"Nokia 3310\" (known: iPhone SE"},
      {"geo 91 0", "error: latitude \"91\""},
      {"geo 0 abc", "error: longitude \"abc\""},
      {"geo 1", "error: set geo needs a latitude and a longitude"},
      {"color-scheme blue", "error: set color-scheme takes dark|light|no-preference, not \"blue\""},
      {"offline", "error: set offline takes on|off, not nothing"},
      {"cpu 0.5", "error: set cpu takes a slow-down factor"},
      {"headers NoColon", "error: \"NoColon\" is not a header"},
      {"headers Bad Name:x", "error: \"Bad\" is not a header"},
      {"zoom 2", "error: unknown setting \"zoom\""},
      {"reset now", "error: set reset takes no further words"},
  };
  for (const auto& c : cases) {
    const std::string got = after(c.line);
    EXPECT_TRUE(got.starts_with(c.expected)) << "set " << c.line << "\n got " << got;
    if (got.starts_with("error: ")) {
      EXPECT_NE(got.find("accepted: set |"), std::string::npos) << got;
    }
  }
}

TEST(EmulationWords, ADeviceSetsViewportAndAgentAndAViewportForgetsTheDevice) {
  auto request = read_emulation_words({"device", "iphone-15"}, {});
  ASSERT_TRUE(request);
  const auto& change = std::get<ChangeSettings>(*request);
  EXPECT_EQ(change.settings.device, "iPhone 15");
  ASSERT_TRUE(change.settings.viewport);
  EXPECT_EQ(change.settings.viewport->width, 393);
  EXPECT_TRUE(change.settings.viewport->mobile);
  EXPECT_NE(change.settings.user_agent->find("iPhone"), std::string::npos);
  EXPECT_EQ(change.groups, (std::vector{EmulationGroup::Viewport, EmulationGroup::UserAgent}));

  auto resized = read_emulation_words({"viewport", "800x600"}, change.settings);
  ASSERT_TRUE(resized);
  const auto& next = std::get<ChangeSettings>(*resized).settings;
  EXPECT_FALSE(next.device);
  EXPECT_EQ(next.user_agent, change.settings.user_agent);  // the agent stays until reset
  EXPECT_EQ(settings_json(next).value("viewport", Json()).value("width", 0), 800);
}

TEST(EmulationWords, ResetPushesEveryGroup) {
  EmulationSettings current;
  current.offline = true;
  current.timezone = "Asia/Tokyo";
  auto request = read_emulation_words({"reset"}, current);
  ASSERT_TRUE(request);
  const auto& change = std::get<ChangeSettings>(*request);
  EXPECT_EQ(change.groups.size(), 9u);
  EXPECT_EQ(settings_json(change.settings), Json::object());
}

}  // namespace
}  // namespace vesk::browser
