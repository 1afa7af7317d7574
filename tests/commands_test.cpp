// Browser commands as whole programs: `vesk <command line>` against a running server with
// a fake browser, checking the method and params the browser received, in order, and what
// the command printed.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/process.hpp"
#include "render/render.hpp"
#include "support/fake_browser.hpp"
#include "support/harness.hpp"
#include "support/process_sweep.hpp"

namespace vesk::test {
namespace {

struct Received {
  std::string method;
  Json params;
  std::string text;  // the request exactly as it arrived
};

// What the fake browser's echo answers print.
std::string echo_document(const std::string& method, const Json& params) {
  return vesk::json_document(Json{{"method", method}, {"params", params}}) + "\n";
}

const std::string kHint =
    "HINT: no session set - this tab is shared. Create one with: export "
    "VESK_SESSION=$(vesk session create --agent-id inst_fake0001 --print-token)\n";

class Commands : public ::testing::Test {
 protected:
  void TearDown() override { kill_processes_with_home(env_.home()); }

  // Starts the server and connects one fake browser answering from `script`.
  void start(Json script = Json::object()) {
    auto started = env_.start_server();
    ASSERT_TRUE(started);
    FakeBrowserConfig config;
    config.port = started->port;
    config.script = std::move(script);
    std::string error;
    browser_ = FakeBrowser::connect(config, &error);
    ASSERT_TRUE(browser_) << error;
    ASSERT_TRUE(browser_->accepted()) << browser_->hello_answer().dump();
    browser_->serve_in_background();
  }

  // Runs `vesk words...` to its end; `received` gets the requests the browser saw meanwhile.
  RunResult run(const std::vector<std::string>& words, std::vector<Received>& received) {
    const std::size_t before = browser_->requests().size();
    RunResult result = env_.run_vesk(words);
    const auto all = browser_->requests();
    received.clear();
    for (std::size_t i = before; i < all.size(); ++i) {
      const Json request = Json::parse(all[i]);
      received.push_back({request.value("method", ""), request.value("params", Json()), all[i]});
    }
    return result;
  }

  std::string write_file(const std::string& name, const std::string& bytes) {
    const fs::path path = env_.root() / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  TestEnv env_;
  std::unique_ptr<FakeBrowser> browser_;
};

std::string joined(const std::vector<std::string>& words) {
  std::string text = "vesk";
  for (const auto& word : words) text += " " + word;
  return text;
}

TEST_F(Commands, RawCommandsSendTheirMethodWithTheWords) {
  start();
  const std::pair<const char*, const char*> cases[] = {
      {"type", "element.type"}, {"dblclick", "element.dblclick"}, {"hover", "element.hover"},
      {"focus", "element.focus"}, {"value", "element.value"}, {"attr", "element.attr"},
      {"count", "element.count"}, {"box", "element.box"}, {"visible", "element.visible"},
      {"enabled", "element.enabled"}, {"checked", "element.checked"}, {"check", "element.check"},
      {"uncheck", "element.uncheck"}, {"scrollintoview", "element.scrollintoview"},
      {"scroll", "page.scroll"}, {"eval", "page.eval"}, {"text", "page.text"}, {"title", "page.title"},
      {"url", "page.url"}, {"html", "page.html"}, {"styles", "page.styles"}, {"find", "page.find"},
      {"wait", "page.wait"}, {"capture", "page.capture"}, {"keydown", "keyboard.keydown"},
      {"keyup", "keyboard.keyup"}, {"press", "keyboard.press"}, {"drag", "mouse.drag"},
      {"close", "tab.close"}, {"handoff", "tab.handoff"}, {"resume", "tab.resume"},
      {"handoff-status", "tab.handoffStatus"}, {"set", "emulation.set"}, {"frame", "frame"},
      {"network", "network"}, {"keyboard", "keyboard"}, {"dialog", "dialog"}, {"console", "console"},
      {"errors", "errors"}, {"clipboard", "clipboard"}, {"cache", "cache"}, {"cookies", "cookies"},
      {"storage", "storage"}, {"state", "state"}, {"record", "record"}, {"quick", "quick"},
  };
  for (const auto& [word, method] : cases) {
    std::vector<Received> received;
    const RunResult result = run({word, "--tab", "2", "a b", "--tab"}, received);
    const Json params{{"args", {"a b", "--tab"}}, {"tab", "2"}, {"sourceCommand", method}};
    ASSERT_EQ(result.status, 0) << word << ": " << result.err;
    ASSERT_EQ(received.size(), 1u) << word;
    EXPECT_EQ(received[0].method, method);
    EXPECT_EQ(received[0].params, params) << word;
    EXPECT_EQ(result.out, echo_document(method, params)) << word;
  }
}

struct LineCase {
  std::vector<std::string> words;
  std::string method;
  Json params;
  std::string raw_fragment = {};  // must appear in the request text as sent
};

TEST_F(Commands, CommandLinesBecomeTheirRequests) {
  start();
  const Json no_click_options{{"snap", false}, {"snapDiff", false}, {"text", false}, {"waitNav", false},
                              {"dismissBanners", false}, {"mode", nullptr}, {"humanize", false}};
  Json element_options = no_click_options;
  element_options.update(Json{{"x", nullptr}, {"y", nullptr}, {"dialogAction", nullptr}, {"dialogText", nullptr}});
  const LineCase cases[] = {
      {{"title"}, "page.title", {{"args", Json::array()}, {"tab", nullptr}, {"sourceCommand", "page.title"}},
       R"("params":{"args":[],"sourceCommand":"page.title","tab":null})"},
      {{"snapshot"}, "page.snapshot", Json::object(), R"("params":{})"},
      {{"snap"},
       "page.snapshot",
       {{"selector", nullptr},
        {"tab", nullptr},
        {"options", {{"full", false}, {"diff", false}, {"interactive", false}, {"compact", false}, {"maxTokens", nullptr}}},
        {"sourceCommand", "page.snapshot"}}},
      {{"click", "10", "20"},
       "mouse.click",
       {{"x", 10.0}, {"y", 20.0}, {"tab", nullptr}, {"options", no_click_options}, {"sourceCommand", "click"}},
       R"("x":10.0)"},
      {{"click", "10", "abc"},
       "element.click",
       {{"selector", "10"}, {"args", {"abc"}}, {"tab", nullptr}, {"options", element_options},
        {"sourceCommand", "element.click"}}},
      {{"click", "--x=5", "--y=-7.5"},
       "mouse.click",
       {{"x", 5.0}, {"y", -7.5}, {"tab", nullptr}, {"options", no_click_options}, {"sourceCommand", "click"}}},
      {{"mouse", "click", "5", "6"}, "mouse.click", {{"x", 5.0}, {"y", 6.0}, {"tab", nullptr}, {"sourceCommand", "mouse.click"}}},
      {{"mouse", "move", "5", "6"}, "mouse", {{"args", {"move", "5", "6"}}, {"tab", nullptr}, {"sourceCommand", "mouse"}}},
      {{"tab"}, "tab.list", {{"args", Json::array()}, {"tab", nullptr}, {"sourceCommand", "tab.list"}}},
      {{"tab", "3"}, "tab.focus", {{"args", {"3"}}, {"tab", "3"}, {"sourceCommand", "tab.focus"}}},
      {{"tabs", "close", "3"}, "tab.close", {{"args", {"close", "3"}}, {"tab", "3"}, {"sourceCommand", "tab.close"}}},
      {{"tab", "Close"}, "tab.focus", {{"args", {"Close"}}, {"tab", "Close"}, {"sourceCommand", "tab.focus"}}},
      {{"reload", "--snap"},
       "nav.reload",
       {{"options", {{"snap", true}, {"snapDiff", false}, {"text", false}, {"dismissBanners", false}}},
        {"sourceCommand", "nav.reload"}}},
      {{"profile", "create", "work"}, "profile.create", {{"name", "work"}}},
      {{"pdf"}, "page.pdf", {{"output", nullptr}, {"options", {{"landscape", false}}}, {"sourceCommand", "page.pdf"}}},
      // A relative output goes absolute, against the folder vesk runs in (the browser runs elsewhere).
      {{"ss", "-o", "shot.png", "--full"},
       "page.screenshot",
       {{"output", (std::filesystem::current_path() / "shot.png").string()},
        {"options", {{"full", true}}},
        {"sourceCommand", "page.screenshot"}}},
  };
  for (const auto& c : cases) {
    std::vector<Received> received;
    const RunResult result = run(c.words, received);
    ASSERT_EQ(result.status, 0) << joined(c.words) << ": " << result.err;
    ASSERT_EQ(received.size(), 1u) << joined(c.words);
    EXPECT_EQ(received[0].method, c.method) << joined(c.words);
    EXPECT_EQ(received[0].params, c.params) << joined(c.words);
    EXPECT_NE(received[0].text.find(c.raw_fragment), std::string::npos) << received[0].text;
    EXPECT_EQ(result.out, echo_document(c.method, c.params)) << joined(c.words);
  }
}

TEST_F(Commands, SharedTabResultsHintOutsideASessionAndNeverPrintTheMarker) {
  start({{"page.title", {{"result", {{"title", "Example"}}}}}});
  std::vector<Received> received;
  RunResult result = run({"title"}, received);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "{\n  \"title\": \"Example\"\n}\n");
  EXPECT_NE(result.err.find(kHint), std::string::npos) << result.err;

  env_.set_env("VESK_SESSION", "");
  result = run({"title"}, received);
  EXPECT_EQ(result.out, "{\n  \"title\": \"Example\"\n}\n");
  EXPECT_EQ(result.err.find("HINT:"), std::string::npos) << result.err;
}

TEST_F(Commands, SnapInteractivePrintsTheListing) {
  start({{"page.snapshot",
          {{"result", {{"snapshot", {{"title", "Shop"}, {"url", "https://x/"},
                                     {"nodes", {{{"id", "e1"}, {"role", "button"}, {"name", "Buy \"now\""}}}}}}}}}}});
  std::vector<Received> received;
  const RunResult result = run({"snap", "-i", "--max-tokens", "100"}, received);
  ASSERT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].params["options"]["interactive"], true);
  EXPECT_EQ(received[0].params["options"]["maxTokens"], 100);
  EXPECT_EQ(result.out, "# Shop | https://x/ | 1 nodes\ne1:button \"Buy \\\"now\\\"\"\n");
}

std::vector<std::string> methods_of(const std::vector<Received>& received) {
  std::vector<std::string> methods;
  for (const auto& request : received) methods.push_back(request.method);
  return methods;
}

Json snapshot_answer(int version) { return {{"result", {{"snapshot", {{"v", version}}}}}}; }

TEST_F(Commands, FillWithSnapMergesOneSnapshot) {
  start({{"page.snapshot", snapshot_answer(1)}, {"element.fill", {{"result", {{"filled", true}}}}}});
  std::vector<Received> received;
  const RunResult result = run({"fill", "--snap", "#q", "hello"}, received);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(methods_of(received), (std::vector<std::string>{"element.fill", "page.snapshot"}));
  EXPECT_EQ(received[1].params,
            (Json{{"tab", nullptr}, {"options", {{"diff", false}}}, {"sourceCommand", "page.snapshot"}}));
  EXPECT_EQ(result.out, "{\n  \"filled\": true,\n  \"snapshot\": {\n    \"v\": 1\n  }\n}\n");
}

TEST_F(Commands, FillWithSnapDiffPollsUntilThePageChanges) {
  start({{"page.snapshot", {snapshot_answer(1), snapshot_answer(1), snapshot_answer(1), snapshot_answer(2)}},
         {"element.fill", {{"result", {{"filled", true}}}}}});
  std::vector<Received> received;
  const RunResult result = run({"fill", "--snap-diff", "--tab", "4", "#q", "hello"}, received);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(methods_of(received), (std::vector<std::string>{"page.snapshot", "element.fill", "page.snapshot",
                                                            "page.snapshot", "page.snapshot"}));
  EXPECT_EQ(received[0].params, (Json{{"tab", "4"}, {"options", {{"diff", false}}}, {"sourceCommand", "page.snapshot"}}));
  EXPECT_EQ(received[1].params["tab"], "4");
  EXPECT_EQ(received[1].params["options"]["snapDiff"], true);
  for (std::size_t i = 2; i < received.size(); ++i) {
    EXPECT_EQ(received[i].params, (Json{{"tab", "4"}, {"options", {{"diff", true}}}, {"sourceCommand", "element.fill"}}));
  }
  EXPECT_EQ(result.out, "{\n  \"filled\": true,\n  \"snapshot\": {\n    \"v\": 2\n  }\n}\n");
}

TEST_F(Commands, FillWithAFailingBaselineTakesOnePolledSnapshot) {
  start({{"page.snapshot", {{{"error", {{"code", "snapshotFailed"}, {"message", "no page"}}}}, snapshot_answer(1)}},
         {"element.fill", {{"result", {{"filled", true}}}}}});
  std::vector<Received> received;
  const RunResult result = run({"fill", "--snap-diff", "#q", "hello"}, received);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(methods_of(received), (std::vector<std::string>{"page.snapshot", "element.fill", "page.snapshot"}));
  EXPECT_EQ(result.out, "{\n  \"filled\": true,\n  \"snapshot\": {\n    \"v\": 1\n  }\n}\n");
}

TEST_F(Commands, NavWithSnapAndCapturePrintsThreeDocuments) {
  start();
  std::vector<Received> received;
  const RunResult result = run({"nav", "--snap", "--capture", "https://example.org/"}, received);
  ASSERT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(methods_of(received), (std::vector<std::string>{"tab.navigate", "page.snapshot", "page.capture"}));
  EXPECT_EQ(received[0].params["url"], "https://example.org/");
  EXPECT_EQ(received[0].params["options"]["capture"], true);
  EXPECT_FALSE(received[0].params.contains("sourceCommand"));
  EXPECT_EQ(result.out, echo_document("tab.navigate", received[0].params) +
                            echo_document("page.snapshot", Json::object()) +
                            echo_document("page.capture", Json::object()));
  EXPECT_NE(result.err.find(" vesk INFO navigation complete; requesting snapshot\n"), std::string::npos);
  EXPECT_NE(result.err.find(" vesk INFO navigation complete; requesting capture\n"), std::string::npos);
}

TEST_F(Commands, UploadSendsEntriesWithNamesAndTypes) {
  start({{"upload", {{"result", {{"uploaded", true}}}}}});
  const std::string photo = write_file("photo.JPG", "abc");
  const std::string readme = write_file("README", "hi");
  const std::string page = write_file("page.b64", "PGI+\n");
  std::vector<Received> received;
  const RunResult result = run({"upload", "-b", "QUJD", "-b", "data:image/png;base64,iVBORw0", "-B", page,
                                "-b", "data:text/plain,hello", "#f", photo, readme},
                               received);
  ASSERT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].method, "upload");
  EXPECT_EQ(received[0].params,
            (Json{{"selector", "#f"},
                  {"files",
                   {{{"name", "photo.JPG"}, {"data", "YWJj"}, {"mime", "image/jpeg"}},
                    {{"name", "README"}, {"data", "aGk="}, {"mime", "application/octet-stream"}},
                    {{"name", "upload-1"}, {"data", "QUJD"}, {"mime", "application/octet-stream"}},
                    {{"name", "upload-2"}, {"data", "iVBORw0"}, {"mime", "image/png"}},
                    {{"name", "upload-3"}, {"data", "data:text/plain,hello"}, {"mime", "application/octet-stream"}},
                    {{"name", "page"}, {"data", "PGI+"}, {"mime", "application/octet-stream"}}}},
                  {"tab", nullptr},
                  {"options", {{"snapDiff", false}}},
                  {"sourceCommand", "upload"}}));
  EXPECT_EQ(result.out, "{\n  \"uploaded\": true\n}\n");
}

TEST_F(Commands, UploadOfALonePathUsesTheDefaultInputAndNothingIsAnError) {
  start();
  const std::string notes = write_file("notes.md", "# n");
  std::vector<Received> received;
  RunResult result = run({"upload", notes}, received);
  ASSERT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].params["selector"], "input[type=file]");
  EXPECT_EQ(received[0].params["files"], (Json{{{"name", "notes.md"}, {"data", "IyBu"}, {"mime", "text/plain"}}}));

  result = run({"upload", "#nothing-here"}, received);
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(received.empty());
  EXPECT_NE(result.err.find("upload requires at least one file, --base64, or --base64-file\n"), std::string::npos)
      << result.err;
}

TEST_F(Commands, DownloadReportsSizesOnStandardError) {
  start({{"download", {{{"result", {{"path", "/d/a.zip"}, {"bytes", 1536}}}}, {{"result", {{"path", "/d/b"}}}}}}});
  std::vector<Received> received;
  RunResult result = run({"download", "https://x/a.zip"}, received);
  ASSERT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].params,
            (Json{{"url", "https://x/a.zip"}, {"target", "https://x/a.zip"}, {"output", nullptr}, {"dir", nullptr},
                  {"tab", nullptr}, {"options", {{"overwrite", false}, {"wait", false}}}, {"sourceCommand", "download"}}));
  // The shared-tab hint of the answer may come between the two messages.
  const auto started = result.err.find("download: starting url=https://x/a.zip destination=<browser default>\n");
  const auto completed = result.err.find("download: completed path=/d/a.zip bytes=1.50 KiB\n");
  EXPECT_NE(started, std::string::npos) << result.err;
  EXPECT_NE(completed, std::string::npos) << result.err;
  EXPECT_LT(started, completed) << result.err;
  EXPECT_EQ(result.out, "{\n  \"bytes\": 1536,\n  \"path\": \"/d/a.zip\"\n}\n");

  result = run({"download", "--dir", "dl", "https://x/b"}, received);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.err.find("download: starting url=https://x/b destination=dl\n"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("download: completed path=/d/b bytes=unknown size\n"), std::string::npos) << result.err;
}

TEST_F(Commands, PathsThatAreNotUtf8AreRefusedBeforeSending) {
  if (!arguments_are_bytes()) {
    GTEST_SKIP() << "a Windows command line is UTF-16 text and cannot carry the byte 0xFF; an unpaired "
                    "surrogate reaches vesk as text that is not UTF-8 instead";
  }
  start();
  std::vector<Received> received;
  const RunResult result = run({"pdf", "-o", "out\xff.pdf"}, received);
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(received.empty());
  EXPECT_NE(result.err.find("cannot send path out\xEF\xBF\xBD.pdf: path contains invalid UTF-8 characters\n"), std::string::npos)
      << result.err;
}

}  // namespace
}  // namespace vesk::test
