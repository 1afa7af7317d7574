// Batches against a stand-in for the browser's own request serving: the requests are those
// vesk would send, in order, the first error stops the batch, and what cannot run inside
// a batch is refused before anything of it runs.
#include "browser/methods/batch.hpp"

#include <gtest/gtest.h>

namespace vesk::browser {
namespace {

struct Served {
  std::string method;
  Json params;
};

class FakeBrowser {
 public:
  // Fails the request whose method is `failing` with elementNotFound.
  explicit FakeBrowser(std::string failing = {}) : failing_(std::move(failing)) {}

  ServeRequest serve() {
    return [this](const std::string& method, const Json& params) -> MethodResult {
      served.push_back({method, params});
      if (method == failing_) return method_error("elementNotFound", "no element matches \"e9\"");
      if (method == "page.snapshot") return Json{{"snapshot", {{"nodes", served.size()}}}};
      return Json{{"did", method}};
    };
  }
  std::vector<std::string> methods() const {
    std::vector<std::string> names;
    for (const auto& request : served) names.push_back(request.method);
    return names;
  }

  std::vector<Served> served;

 private:
  std::string failing_;
};

Json batch(std::vector<std::string> lines, Json tab = nullptr) {
  return Json{{"args", std::move(lines)}, {"tab", std::move(tab)}, {"sourceCommand", "quick"}};
}

TEST(Batch, FiveCommandsGiveFiveResultsInOrder) {
  FakeBrowser browser;
  const auto answer = run_batch(
      batch({"fill e1 Ada", "fill e2 'Ada Lovelace'", "click e3", "press Enter", "snap -i"}), browser.serve());
  ASSERT_TRUE(answer);
  EXPECT_EQ(browser.methods(),
            (std::vector<std::string>{"element.fill", "element.fill", "element.click", "keyboard.press", "page.snapshot"}));
  EXPECT_EQ(browser.served[1].params["args"], Json::array({"Ada Lovelace"}));
  EXPECT_EQ((*answer)["ok"], true);
  EXPECT_EQ((*answer)["completed"], 5);
  EXPECT_EQ((*answer)["stoppedAt"], nullptr);
  ASSERT_EQ((*answer)["results"].size(), 5u);
  EXPECT_EQ((*answer)["results"][2], (Json{{"command", "click e3"}, {"method", "element.click"},
                                           {"result", {{"did", "element.click"}}}}));
}

TEST(Batch, TheFirstErrorStopsTheBatchAndNothingAfterItRuns) {
  FakeBrowser browser("element.click");
  const auto answer = run_batch(batch({"fill e1 Ada", "fill e2 Lovelace", "click e9", "title"}), browser.serve());
  ASSERT_TRUE(answer);
  EXPECT_EQ(browser.methods(), (std::vector<std::string>{"element.fill", "element.fill", "element.click"}));
  EXPECT_EQ((*answer)["ok"], false);
  EXPECT_EQ((*answer)["completed"], 2);
  EXPECT_EQ((*answer)["stoppedAt"], 3);
  const Json& results = (*answer)["results"];
  ASSERT_EQ(results.size(), 3u);
  EXPECT_TRUE(results[1].contains("result"));
  EXPECT_EQ(results[2]["error"]["code"], "elementNotFound");
  EXPECT_FALSE(results[2].contains("result"));
}

TEST(Batch, LinesThatAreNotOneBrowserRequestStopTheBatchWithTheReason) {
  const std::pair<const char*, const char*> cases[] = {
      {"status", "is not a single browser request"},
      {"server stop", "is not a single browser request"},
      {"instance start", "is not a single browser request"},
      {"upload e1 /etc/hostname", "reads the files to upload"},
      {"download http://127.0.0.1/x", "reports the download's progress"},
      {"quick title", "cannot contain another batch"},
      {"clack e1", "clack"},                        // usage error, with the parser's text
      {"fill e1 'Ada", "unterminated single quote"},
      {"   ", "empty command line"},
      {"click --help", "help is not available inside a batch"},
      {"ss -o shot.png", "relative"},
  };
  for (const auto& [line, message] : cases) {
    FakeBrowser browser;
    const auto answer = run_batch(batch({"title", line, "url"}), browser.serve());
    ASSERT_TRUE(answer) << line;
    EXPECT_EQ(browser.methods(), std::vector<std::string>{"page.title"}) << line;
    EXPECT_EQ((*answer)["stoppedAt"], 2) << line;
    const Json& error = (*answer)["results"][1]["error"];
    EXPECT_EQ(error["code"], "invalidArgument") << line;
    EXPECT_NE(error["message"].get<std::string>().find(message), std::string::npos) << error["message"];
  }
}

TEST(Batch, TheBatchTabGoesToEveryRequestThatNamesNone) {
  FakeBrowser browser;
  ASSERT_TRUE(run_batch(batch({"title", "snapshot", "click e1 --tab 3", "nav example.com --snap"}, "2"), browser.serve()));
  ASSERT_EQ(browser.served.size(), 5u);
  EXPECT_EQ(browser.served[0].params["tab"], "2");
  EXPECT_EQ(browser.served[1].params["tab"], "2");   // "snapshot" sends {} on its own
  EXPECT_EQ(browser.served[2].params["tab"], "3");
  EXPECT_EQ(browser.served[3].method, "tab.navigate");
  EXPECT_EQ(browser.served[4].method, "page.snapshot");  // nav's follow-up
  EXPECT_EQ(browser.served[4].params["tab"], "2");
}

TEST(Batch, SnapOptionsTakeTheSnapshotIntoTheResultAndFollowUpsAreListed) {
  FakeBrowser browser;
  const auto answer = run_batch(batch({"click e1 --snap", "nav example.com --capture"}), browser.serve());
  ASSERT_TRUE(answer);
  EXPECT_EQ(browser.methods(),
            (std::vector<std::string>{"element.click", "page.snapshot", "tab.navigate", "page.capture"}));
  EXPECT_EQ((*answer)["results"][0]["result"]["snapshot"], (Json{{"nodes", 2}}));
  EXPECT_EQ((*answer)["results"][1]["result"]["followUps"][0]["method"], "page.capture");
}

TEST(Batch, NoCommandsOrWordsThatAreNotTextAreInvalid) {
  FakeBrowser browser;
  EXPECT_EQ(run_batch(batch({}), browser.serve()).error().code, "invalidArgument");
  EXPECT_EQ(run_batch(Json{{"args", {1, 2}}}, browser.serve()).error().code, "invalidArgument");
  EXPECT_TRUE(browser.served.empty());
}

}  // namespace
}  // namespace vesk::browser
