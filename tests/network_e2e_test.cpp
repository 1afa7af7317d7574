// End to end: the network method on pages served from the loopback HTTP server. The
// fixture page's load(path) fetches a path and answers "STATUS BODY" or "failed: REASON",
// so each test sees exactly what the page received.
#include <gmock/gmock.h>

#include <fstream>
#include <sstream>

#include "e2e_support.hpp"
#include "support/process_sweep.hpp"

namespace vesk::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class NetworkEndToEnd : public RealBrowserTest {
 protected:
  void SetUp() override {
    RealBrowserTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(ok({"nav", session().http().url("/network.html")}).is_object());
  }
  void TearDown() override {
    // Routes and offline mode hold for the whole browser: leave none to the next test.
    if (session_ == nullptr || IsSkipped()) return;
    session().vesk({"network", "unroute"});
    session().vesk({"network", "offline", "off"});
  }

  static std::string load(const std::string& path) {
    Json value = eval("load('" + path + "')");
    return value.is_string() ? value.get<std::string>() : value.dump();
  }

  // The listed requests whose URL contains `text`.
  static Json requests_to(const std::string& text) {
    Json listed = ok({"network", "--filter", text});
    return listed.is_object() ? listed.value("requests", Json::array()) : Json::array();
  }
};

TEST_F(NetworkEndToEnd, AFetchIsListedWithItsStatusAndItsBody) {
  eval("document.cookie = 'flavour=plain'");
  ASSERT_THAT(load("/network-data.json"), StartsWith("200 "));
  Json requests = requests_to("network-data.json");
  ASSERT_EQ(requests.size(), 1u) << requests;
  const Json& fetched = requests[0];
  EXPECT_EQ(fetched.value("type", ""), "fetch") << fetched;
  EXPECT_EQ(fetched.value("status", 0), 200) << fetched;
  EXPECT_EQ(fetched.value("state", ""), "finished") << fetched;
  EXPECT_EQ(fetched.value("mimeType", ""), "application/json") << fetched;

  // The page itself was recorded too, from the tab's first moment.
  Json documents = ok({"network", "--type", "document"})["requests"];
  ASSERT_FALSE(documents.empty());
  EXPECT_THAT(documents.back().value("url", ""), HasSubstr("/network.html"));

  const std::string id = std::to_string(fetched.value("id", 0));
  Json detail = ok({"network", "get", id});
  EXPECT_EQ(detail.value("body", ""), "{\"answer\": 42}\n") << detail;
  EXPECT_EQ(detail["responseHeaders"].value("Content-Type", ""), "application/json") << detail;
  // The headers as sent, cookies included (the page's own view of them has none).
  EXPECT_EQ(detail["requestHeaders"].value("Cookie", ""), "flavour=plain") << detail;

  // --out writes the body to the file named.
  const auto out = session().env().home() / "body.json";
  Json saved = ok({"network", "get", id, "--out", out.string()});
  EXPECT_EQ(saved.value("bodyFile", ""), out.string()) << saved;
  std::ifstream file(out);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(file)), {}), "{\"answer\": 42}\n");

  // A failed request is listed with its reason, and --failed keeps only such ones.
  load("/no-such-file.json");
  Json failed = ok({"network", "--failed"})["requests"];
  ASSERT_FALSE(failed.empty());
  EXPECT_THAT(failed.back().value("url", ""), HasSubstr("no-such-file.json"));
  EXPECT_EQ(failed.back().value("status", 0), 404);

  // While a dialog blocks the page the log can still be read, and asking for a body (which
  // the blocked renderer holds) says so at once instead of waiting.
  ok({"eval", "setTimeout(() => alert('stuck'), 0); 1"});
  EXPECT_TRUE(eventually([] { return ok({"dialog"}).value("open", false); }, kBrowserWait));
  EXPECT_FALSE(requests_to("network-data.json").empty());
  Json while_stuck = ok({"network", "get", id});
  EXPECT_THAT(while_stuck.value("bodyError", ""), HasSubstr("dialog")) << while_stuck;
  ok({"dialog", "accept"});

  // --clear answers the list, then empties it.
  EXPECT_FALSE(ok({"network", "--clear"})["requests"].empty());
  EXPECT_TRUE(ok({"network"})["requests"].empty());

  const std::vector<std::vector<std::string>> bad = {
      {"network", "--type", "rocket"},
      {"network", "get", "999999"},
      {"network", "get", "one"},
      {"network", "get", id, "--out", "relative.json"},
      {"network", "--colour"},
      {"network", "launch"},
  };
  for (const auto& args : bad) fails_with(args, "invalidArgument");
}

TEST_F(NetworkEndToEnd, RoutesAnswerOrAbortRequestsInEveryTabAndGoAway) {
  Json routed = ok({"network", "route", "network-data", "--status", "201", "--body", "from the route",
                    "--header", "X-Route: yes"});
  EXPECT_EQ(routed["route"].value("glob", ""), "*network-data*") << routed;
  EXPECT_EQ(load("/network-data.json"), "201 from the route");
  Json seen = requests_to("network-data.json");
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().value("routed", ""), "fulfilled") << seen;
  Json detail = ok({"network", "get", std::to_string(seen.back().value("id", 0))});
  EXPECT_EQ(detail["responseHeaders"].value("X-Route", ""), "yes") << detail;

  ok({"network", "route", "*/missing-*", "--abort"});
  EXPECT_THAT(load("/missing-thing.json"), StartsWith("failed: "));
  Json aborted = requests_to("missing-thing");
  ASSERT_FALSE(aborted.empty());
  EXPECT_EQ(aborted.back().value("state", ""), "failed") << aborted;
  EXPECT_EQ(aborted.back().value("routed", ""), "aborted") << aborted;

  // A tab opened after the route was set is answered by it too.
  Json opened = ok({"tab", "open", session().http().url("/network.html")});
  ASSERT_TRUE(opened.is_object());
  EXPECT_EQ(load("/network-data.json"), "201 from the route");

  Json listed = ok({"network", "routes"});
  ASSERT_EQ(listed["routes"].size(), 2u) << listed;
  EXPECT_GE(listed["routes"][0].value("hits", 0), 2) << listed;

  // A body file gives the body and, by its extension, the type.
  const auto body_file = session().env().home() / "answer.json";
  std::ofstream(body_file) << "{\"answer\": \"routed\"}";
  ok({"network", "route", "network-data", "--body-file", body_file.string()});
  EXPECT_EQ(load("/network-data.json"), "200 {\"answer\": \"routed\"}");
  EXPECT_EQ(eval("fetch('/network-data.json').then(r => r.headers.get('content-type'))"), "application/json");

  ok({"network", "unroute", "network-data"});
  EXPECT_EQ(load("/network-data.json"), "200 {\"answer\": 42}\n");
  ok({"tab", "close"});

  const std::vector<std::vector<std::string>> bad = {
      {"network", "route"},
      {"network", "route", "x", "--status", "700"},
      {"network", "route", "x", "--abort", "--status", "200"},
      {"network", "route", "x", "--header", "no colon"},
      {"network", "route", "x", "--body-file", "relative.txt"},
      {"network", "unroute", "never-routed"},
  };
  for (const auto& args : bad) fails_with(args, "invalidArgument");
}

TEST_F(NetworkEndToEnd, OfflineFailsRequestsUntilItIsTurnedOff) {
  EXPECT_EQ(ok({"network", "offline", "on"}).value("offline", false), true);
  EXPECT_THAT(load("/network-data.json"), StartsWith("failed: "));
  Json failed = requests_to("network-data.json");
  ASSERT_FALSE(failed.empty());
  EXPECT_THAT(failed.back().value("failure", ""), HasSubstr("INTERNET_DISCONNECTED")) << failed;
  ok({"network", "offline", "off"});
  EXPECT_THAT(load("/network-data.json"), StartsWith("200 "));
  fails_with({"network", "offline", "maybe"}, "invalidArgument");
}

TEST_F(NetworkEndToEnd, AHarFileListsTheRequestsSinceItsStart) {
  load("/network-data.json");  // before the recording: not in it
  ok({"network", "har", "start"});
  load("/network-data.json");
  load("/network.html");
  const auto path = session().env().home() / "session.har";
  Json stopped = ok({"network", "har", "stop", path.string()});
  EXPECT_EQ(stopped.value("entries", 0), 2) << stopped;

  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  Json har = Json::parse(text.str());
  const Json& log = har["log"];
  EXPECT_EQ(log.value("version", ""), "1.2");
  EXPECT_TRUE(log["creator"].contains("name"));
  ASSERT_EQ(log["pages"].size(), 1u);
  ASSERT_EQ(log["entries"].size(), 2u) << log;
  const Json& first = log["entries"][0];
  EXPECT_THAT(first["request"].value("url", ""), HasSubstr("/network-data.json"));
  EXPECT_EQ(first["request"].value("method", ""), "GET");
  EXPECT_EQ(first["response"].value("status", 0), 200);
  EXPECT_EQ(first["response"]["content"].value("mimeType", ""), "application/json");
  EXPECT_EQ(first["response"]["content"].value("text", ""), "{\"answer\": 42}\n");
  for (const char* phase : {"send", "wait", "receive"}) EXPECT_GE(first["timings"].value(phase, -1.0), 0) << phase;
  EXPECT_THAT(log["entries"][1]["request"].value("url", ""), HasSubstr("/network.html"));

  fails_with({"network", "har", "stop", path.string()}, "invalidArgument");  // not recording any more
  fails_with({"network", "har", "stop", "relative.har"}, "invalidArgument");
  fails_with({"network", "har", "pause"}, "invalidArgument");
}

}  // namespace
}  // namespace vesk::test
