// End to end: recording a tab (video, DevTools trace, actions report) and capture bundles,
// against real Chromium. What is written is read back: the video by the FFmpeg libraries,
// the trace as JSON, the report and the bundle as files.
#include <gmock/gmock.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "media/video_probe.hpp"
#include "e2e_support.hpp"
#include "support/process_sweep.hpp"

namespace vesk::test {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

std::string file_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class Recording : public RealBrowserTest {};

TEST_F(Recording, AVideoOfAnAnimationHasItsSizeAndLastsAsLongAsTheRecording) {
  open("animation.html");
  const fs::path video = session().env().root() / "run.webm";
  const auto started = std::chrono::steady_clock::now();
  const Json start = ok({"record", "start", video.string(), "--fps", "10", "--size", "320x240"});
  ASSERT_EQ(start["path"], video.string()) << start;
  fails_with({"record", "start", (session().env().root() / "second.webm").string()}, "invalidArgument");
  // The file grows while recording, a second at a time, and what is there already plays.
  ASSERT_TRUE(eventually([&] {
    const auto partial = media::probe_video(video);
    return partial && partial->frames >= 10;
  }, kBrowserWait)) << "no second of the video reached the file while recording";
  const Json stopped = ok({"record", "stop"});
  const double recorded = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  const auto facts = media::probe_video(video);
  ASSERT_TRUE(facts) << facts.error().text();
  EXPECT_EQ(facts->width, 320);
  EXPECT_EQ(facts->height, 240);
  EXPECT_EQ(facts->codec, "vp8");
  EXPECT_EQ(facts->frames, stopped["frames"]);
  EXPECT_EQ(stopped["bytes"], fs::file_size(video));
  // The video covers the time between the two commands (each end within a command's time).
  EXPECT_GE(facts->duration, 0.9);
  EXPECT_LE(facts->duration, recorded + 0.2);
  EXPECT_NEAR(stopped["duration"].get<double>(), facts->duration, 0.2);
  fails_with({"record", "stop"}, "invalidArgument");
}

TEST_F(Recording, ATraceIsDevToolsTraceJson) {
  open("animation.html");
  ok({"record", "trace", "start"});
  ok({"eval", "for (let i = 0; i < 1e5; i++) {} 1"});
  const fs::path trace = session().env().root() / "trace.json";
  const Json stopped = ok({"record", "trace", "stop", trace.string()});
  EXPECT_EQ(stopped["path"], trace.string());
  const Json parsed = Json::parse(file_text(trace), nullptr, false);
  ASSERT_TRUE(parsed.is_object()) << "the trace is not a JSON object";
  ASSERT_TRUE(parsed.contains("traceEvents"));
  EXPECT_GT(parsed["traceEvents"].size(), 10u);
}

TEST_F(Recording, TheActionsReportListsEachActionWithAScreenshot) {
  open("demo.html");
  ok({"record", "actions", "start"});
  ok({"fill", "#who", "Ada"});
  ok({"click", "#greet"});
  fails_with({"click", "#missing"}, "elementNotFound");
  const fs::path report = session().env().root() / "actions.html";
  const Json stopped = ok({"record", "actions", "stop", report.string()});
  EXPECT_EQ(stopped["actions"], 3);
  const std::string html = file_text(report);
  EXPECT_LT(html.find("element.fill"), html.find("element.click"));
  EXPECT_THAT(html, HasSubstr("elementNotFound"));
  EXPECT_THAT(html, HasSubstr("data:image/jpeg;base64,"));
}

TEST_F(Recording, ACaptureBundleHoldsEveryPart) {
  const Json navigated = ok({"nav", session().http().url("/form.html")});
  ASSERT_TRUE(navigated.is_object());
  eval("console.log('captured line'); 1");
  const fs::path out = session().env().root() / "bundles";
  const Json bundle = ok({"capture", "--out", out.string()});
  const fs::path dir = bundle["path"].get<std::string>();
  EXPECT_EQ(dir.parent_path(), out);
  for (const char* name : {"page.json", "snapshot.json", "snapshot.txt", "screenshot.png", "text.txt", "page.html",
                           "network.har", "console.json", "errors.json"}) {
    EXPECT_TRUE(fs::exists(dir / name)) << name << " missing from " << bundle;
    EXPECT_THAT(bundle["files"], ::testing::Contains(name));
  }
  EXPECT_FALSE(bundle.contains("missing")) << bundle;
  EXPECT_THAT(file_text(dir / "console.json"), HasSubstr("captured line"));
  EXPECT_THAT(file_text(dir / "snapshot.txt"), ::testing::StartsWith("# Vesk fixture form | "));
  EXPECT_EQ(Json::parse(file_text(dir / "page.json"))["url"], session().http().url("/form.html"));
  const Json har = Json::parse(file_text(dir / "network.har"), nullptr, false);
  ASSERT_TRUE(har.contains("log")) << "network.har is not a HAR log";
  bool has_page = false;
  for (const Json& entry : har["log"]["entries"]) has_page |= entry["request"]["url"] == session().http().url("/form.html");
  EXPECT_TRUE(has_page) << "the HAR log lacks the page's own request";
}

}  // namespace
}  // namespace vesk::test
