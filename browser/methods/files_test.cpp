// PDF, screenshot, upload, download and the page queries against a real Chromium.
#include <gtest/gtest.h>

#include "browser/test_support.hpp"

namespace vesk::browser {
namespace {

using testing::FixtureHttpServer;
using testing::TempDir;
using testing::read_file;

class ServedForm : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!find_chromium_binary()) GTEST_SKIP() << "no Chromium installed";
    running_ = testing::start_test_browser(dir_);
    ASSERT_NE(running_, nullptr);
    auto loaded = call("tab.navigate", {{"url", server_.url("/form.html")}, {"options", Json::object()}});
    ASSERT_TRUE(loaded.has_value()) << loaded.error().message;
  }
  MethodResult call(const std::string& method, Json params) { return running_->serve(method, params); }
  MethodResult raw(const std::string& method, std::vector<std::string> args) {
    return call(method, {{"args", args}, {"tab", nullptr}});
  }
  Json result_text() { return (*raw("page.eval", {"document.getElementById('result').textContent"}))["value"]; }

  TempDir dir_;
  FixtureHttpServer server_;
  std::unique_ptr<RunningBrowser> running_;
};

TEST_F(ServedForm, PdfAndScreenshotsAreWrittenWhereAsked) {
  const auto out = dir_.path() / "out";
  struct Case {
    std::string method;
    Json output;
    Json options;
    std::string magic;  // how the file starts
  };
  const Case cases[] = {
      {"page.pdf", (out / "page.pdf").string(), {{"landscape", true}}, "%PDF"},
      {"page.pdf", nullptr, {{"landscape", false}}, "%PDF"},
      {"page.screenshot", (out / "shot.png").string(), {{"full", false}}, "\x89PNG"},
      {"page.screenshot", (out / "full.png").string(), {{"full", true}}, "\x89PNG"},
      {"page.screenshot", (out / "shot.jpg").string(), {{"full", false}}, "\xff\xd8\xff"},
      {"page.screenshot", out.string() + "/", {{"full", false}}, "\x89PNG"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method + " " + c.output.dump());
    auto saved = call(c.method, {{"output", c.output}, {"options", c.options}, {"sourceCommand", c.method}});
    ASSERT_TRUE(saved.has_value()) << saved.error().message;
    const std::string path = (*saved)["path"];
    if (c.output.is_string() && !c.output.get<std::string>().ends_with("/")) {
      EXPECT_EQ(path, c.output);
    }
    const std::string bytes = read_file(path);
    EXPECT_EQ((*saved)["bytes"], bytes.size());
    EXPECT_TRUE(bytes.starts_with(c.magic));
  }
  auto blocked = call("page.pdf", {{"output", "/proc/no/such/place.pdf"}, {"options", Json::object()}});
  ASSERT_FALSE(blocked.has_value());
  EXPECT_EQ(blocked.error().code, "fileError");
}

TEST_F(ServedForm, UploadsReachTheInputDirectlyOrThroughAChooser) {
  Json files = Json::array({{{"name", "a.txt"}, {"data", "aGVsbG8="}, {"mime", "text/plain"}},
                            {{"name", "../b.bin"}, {"data", "AAEC"}, {"mime", "application/octet-stream"}}});
  auto direct = call("upload", {{"selector", "#upload"}, {"files", files}, {"tab", nullptr}, {"options", Json::object()}});
  ASSERT_TRUE(direct.has_value()) << direct.error().message;
  EXPECT_EQ(result_text(), "a.txt:5,b.bin:3");

  auto chooser = call("upload", {{"selector", "#choose-button"}, {"files", Json::array({files[1]})}, {"options", Json::object()}});
  ASSERT_TRUE(chooser.has_value()) << chooser.error().message;
  EXPECT_EQ(result_text(), "b.bin:3");

  auto bad = call("upload", {{"selector", "#upload"}, {"files", Json::array({{{"name", "x"}, {"data", "@@"}}})}});
  ASSERT_FALSE(bad.has_value());
  EXPECT_EQ(bad.error().code, "invalidArgument");
}

TEST_F(ServedForm, DownloadWithWaitAnswersTheCompleteFile) {
  const auto folder = dir_.path() / "downloads";
  auto params = [&](Json output, bool overwrite) {
    return Json{{"url", server_.url("/download/report.csv")}, {"target", server_.url("/download/report.csv")},
                {"output", output}, {"dir", folder.string()}, {"tab", nullptr},
                {"options", {{"overwrite", overwrite}, {"wait", true}}}};
  };
  const std::string expected = read_file(testing::fixtures_dir() / "report.csv");
  auto first = call("download", params(nullptr, false));
  ASSERT_TRUE(first.has_value()) << first.error().message;
  EXPECT_EQ((*first)["path"], (folder / "report.csv").string());
  EXPECT_EQ((*first)["bytes"], expected.size());
  EXPECT_EQ(read_file(folder / "report.csv"), expected);
  // A second download keeps the first file.
  auto second = call("download", params(nullptr, false));
  ASSERT_TRUE(second.has_value()) << second.error().message;
  EXPECT_EQ((*second)["path"], (folder / "report (1).csv").string());

  const auto named = dir_.path() / "named.csv";
  ASSERT_TRUE(call("download", params(named.string(), false)));
  EXPECT_EQ(read_file(named), expected);
  auto refused = call("download", params(named.string(), false));
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().code, "invalidArgument");
  EXPECT_TRUE(call("download", params(named.string(), true)).has_value());

  // A download the page starts itself lands in the profile's default downloads folder.
  ASSERT_TRUE(raw("element.click", {"#download-link"}));
  const auto by_click = dir_.path() / "profile" / "vesk-outputs" / "downloads" / "report.csv";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!std::filesystem::exists(by_click) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(read_file(by_click), expected);

  auto page = call("download", {{"url", server_.url("/form.html")}, {"options", {{"wait", true}}}});
  ASSERT_FALSE(page.has_value());
  EXPECT_EQ(page.error().code, "navigationFailed");
}

TEST_F(ServedForm, WaitFindScrollAndStyles) {
  struct Case {
    std::vector<std::string> words;
    std::string code;  // "" for success
  };
  ASSERT_TRUE(raw("page.eval", {"setTimeout(() => { const p = document.createElement('p'); p.id = 'late'; "
                                "p.textContent = 'Arrived late'; document.body.prepend(p); }, 300); 0"}));
  const Case cases[] = {
      {{"#late"}, ""},
      {{"text=Arrived late"}, ""},
      {{"--text", "Arrived"}, ""},
      {{"load"}, ""},
      {{"url=form.html"}, ""},
      {{"50"}, ""},
      {{"#never", "--timeout", "300"}, "timeout"},
      {{"gone=#name", "--timeout", "200"}, "timeout"},
      {{"gone=#never"}, ""},
      {{"##bad"}, "invalidArgument"},
      {{}, "invalidArgument"},
  };
  for (const auto& c : cases) {
    auto waited = raw("page.wait", c.words);
    EXPECT_EQ(waited ? "" : waited.error().code, c.code) << ::testing::PrintToString(c.words)
                                                          << (waited ? waited->dump() : waited.error().message);
  }
  auto found = raw("page.find", {"accept", "the"});
  ASSERT_TRUE(found.has_value());
  ASSERT_GE((*found)["count"], 1);
  auto count = raw("element.count", {(*found)["matches"][0]["selector"]});
  ASSERT_TRUE(count.has_value());
  EXPECT_EQ((*count)["count"], 1);

  auto scrolled = raw("page.scroll", {"bottom"});
  ASSERT_TRUE(scrolled.has_value());
  EXPECT_GT((*scrolled)["scrollY"], 0);
  auto top = raw("page.scroll", {"top"});
  EXPECT_EQ((*top)["scrollY"], 0);
  auto styles = raw("page.styles", {"#hover-target", "width"});
  ASSERT_TRUE(styles.has_value());
  EXPECT_EQ((*styles)["styles"]["width"], "100px");
}

}  // namespace
}  // namespace vesk::browser
