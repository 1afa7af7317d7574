// call_method against a real server process: answers passed through or turned into
// errors, and the replacement of dead browser instances followed by a retry.

#include <gtest/gtest.h>

#include "base/timestamp.hpp"
#include "client/call_method.hpp"
#include "client/exchange_message.hpp"
#include "platform/process.hpp"
#include "platform/socket.hpp"
#include "support/fake_browser.hpp"
#include "support/harness.hpp"
#include "support/process_sweep.hpp"

namespace vesk::test {
namespace {

class RequestPath : public ::testing::Test {
 protected:
  void SetUp() override {
    auto started = env_.start_server();
    ASSERT_TRUE(started);
    server_ = *started;
    paths_ = AppPaths{env_.data_dir(), env_.state_path()};
  }
  void TearDown() override { kill_processes_with_home(env_.home()); }

  // Records an instance whose browser has died: its pid names no process any more.
  void record_dead_instance(const std::string& browser_binary) {
    const auto gone = pid_of_an_exited_process();
    ASSERT_TRUE(gone.has_value());
    Json state = env_.read_state();
    state["instances"] = Json::array({{{"id", "inst_dead0000"},
                                       {"profileId", "work"},
                                       {"mode", "headed"},
                                       {"browserBinary", browser_binary},
                                       {"pid", *gone},
                                       {"host", "127.0.0.1"},
                                       {"port", 9},
                                       {"token", "old-token"},
                                       {"status", "running"},
                                       {"createdAt", utc_timestamp()}}});
    env_.write_state(state);
  }

  TestEnv env_;
  ServerHandle server_;
  AppPaths paths_;
};

TEST_F(RequestPath, AnswersBecomeResultsOrErrors) {
  FakeBrowserConfig config;
  config.port = server_.port;
  config.script = {
      {"t.error", {{"error", {{"code", "elementNotFound"}, {"message", "no element e7"}}}}},
      {"t.null", {{"result", nullptr}}},
      {"t.string", {{"result", "plain text"}}},
      {"t.array", {{"result", Json::array({1, 2})}}},
      {"t.object", {{"result", {{"title", "Example"}}}}},
  };
  std::string error;
  auto browser = FakeBrowser::connect(config, &error);
  ASSERT_TRUE(browser) << error;
  browser->serve_in_background();

  struct Case {
    std::string method;
    std::optional<Json> result;  // nullopt: an error is expected
    std::string error;
  };
  const Case cases[] = {
      {"t.error", std::nullopt, "elementNotFound: no element e7"},
      {"t.null", Json::object(), ""},
      {"t.string", Json("plain text"), ""},
      {"t.array", Json::array({1, 2}), ""},
  };
  for (const auto& c : cases) {
    auto got = call_method(paths_, c.method, Json{{"args", Json::array()}});
    if (c.result) {
      ASSERT_TRUE(got.has_value()) << c.method << ": " << got.error().text();
      EXPECT_EQ(*got, *c.result) << c.method;
    } else {
      ASSERT_FALSE(got.has_value()) << c.method;
      EXPECT_EQ(got.error().text(), c.error);
    }
  }
  // The browser is not a recorded instance, so the broker marks its answers as coming
  // from a shared tab; that marker never reaches the caller.
  auto object = call_method(paths_, "t.object", Json::object());
  ASSERT_TRUE(object.has_value()) << object.error().text();
  EXPECT_EQ((*object)["title"], "Example");
  EXPECT_FALSE(object->contains("vesk"));
}

TEST_F(RequestPath, NoBrowserAndNothingToRestartFails) {
  auto got = call_method(paths_, "page.title", Json::object());
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(got.error().text(), "noBrowser: no connected Chromium instance");
  // The server's log is read on another thread: wait for the line before counting.
  ASSERT_TRUE(server_.process->wait_for_err("received CLI request"));
  EXPECT_EQ(count_of(server_.process->err(), "received CLI request"), 1u);
}

TEST_F(RequestPath, DeadInstanceIsReplacedAndTheRetrySucceeds) {
  record_dead_instance(TestEnv::fake_browser_binary().string());
  const Json params = {{"args", Json::array()}, {"tab", nullptr}, {"sourceCommand", "page.title"}};

  auto got = call_method(paths_, "page.title", params);
  ASSERT_TRUE(got.has_value()) << got.error().text();
  EXPECT_EQ(*got, (Json{{"method", "page.title"}, {"params", params}}));  // the fake browser's echo

  // Exactly one new instance, with the dead one's profile and mode, running.
  const Json instances = env_.read_state()["instances"];
  ASSERT_EQ(instances.size(), 1u);
  EXPECT_NE(instances[0]["id"], "inst_dead0000");
  EXPECT_EQ(instances[0]["profileId"], "work");
  EXPECT_EQ(instances[0]["mode"], "headed");
  EXPECT_EQ(instances[0]["browserBinary"], TestEnv::fake_browser_binary().string());
  EXPECT_TRUE(process_is_alive(instances[0]["pid"].get<Pid>()));
}

TEST_F(RequestPath, BrowserCommandReplacesADeadInstance) {
  record_dead_instance(TestEnv::fake_browser_binary().string());
  auto title = env_.run_vesk({"title"});
  ASSERT_EQ(title.status, 0) << title.err;
  EXPECT_EQ(Json::parse(title.out)["method"], "page.title");
  EXPECT_NE(title.err.find("detected 1 stale VeskBrowser instance(s); restarting before retry"), std::string::npos);
  EXPECT_NE(title.err.find("retrying method page.title after VeskBrowser restart"), std::string::npos);
  EXPECT_EQ(title.err.find("terminating stale"), std::string::npos) << "a dead process is not killed";
  // Said plainly, not only in the log: which instance went, and that its tabs went with it.
  const std::string id = env_.read_state()["instances"][0]["id"];
  EXPECT_NE(title.err.find("\nvesk: browser instance inst_dead0000 could not be reached and was replaced by " + id +
                           "; its tabs are gone\n"),
            std::string::npos)
      << title.err;
}

TEST_F(RequestPath, RetriesRunOutWhenTheNewBrowserNeverConnects) {
  // vesk as the browser starts fine and exits at once, refusing the browser's flags: the
  // replacement never says hello.
  record_dead_instance(TestEnv::vesk_binary().string());
  auto got = call_method(paths_, "page.title", Json::object());
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(got.error().text(), "noBrowser: no connected Chromium instance");
  // Sent again only while the replacement could still connect; it exits at once.
  EXPECT_TRUE(server_.process->wait_for_err("received CLI request"));
  EXPECT_EQ(env_.read_state()["instances"].size(), 1u);
}

TEST_F(RequestPath, RecordedPidNowHeldByAnotherProgramSurvivesTheRestart) {
  auto bystander = spawn_detached(TestEnv::idle_program_binary().string(), {});
  ASSERT_TRUE(bystander.has_value());
  Json state = env_.read_state();
  state["instances"] = Json::array({{{"id", "inst_reused00"},
                                     {"profileId", "default"},
                                     {"mode", "headless"},
                                     {"pid", *bystander},
                                     {"host", "127.0.0.1"},
                                     {"port", 9},
                                     {"token", "old-token"},
                                     {"status", "running"},
                                     {"createdAt", "2001-01-01T00:00:00Z"}}});
  env_.write_state(state);
  set_environment_variable("VESK_BROWSER_BINARY", TestEnv::fake_browser_binary().string());

  auto got = call_method(paths_, "page.title", Json::object());
  set_environment_variable("VESK_BROWSER_BINARY", std::nullopt);
  EXPECT_TRUE(got.has_value()) << got.error().text();
  EXPECT_TRUE(process_is_alive(*bystander)) << "a pid that is not our browser any more is left alone";
  // Not relaunched as the idle program: the executable came from VESK_BROWSER_BINARY.
  const Json instances = env_.read_state()["instances"];
  ASSERT_EQ(instances.size(), 1u);
  EXPECT_EQ(instances[0]["browserBinary"], TestEnv::fake_browser_binary().string());
  (void)kill_process_tree(*bystander);
}

TEST(ExchangeMessage, EndpointErrors) {
  auto named = exchange_message("localhost:80", "page.title", Json::object());
  ASSERT_FALSE(named.has_value());
  EXPECT_EQ(named.error().message(), "invalid VeskApp server endpoint localhost:80");

  // Nothing listens there: connect attempts for 5 s, then the last error.
  std::uint16_t port = 0;
  {
    auto listener = TcpListener::bind("127.0.0.1:0");
    ASSERT_TRUE(listener.has_value());
    port = listener->local_port().value_or(0);
  }
  const std::string endpoint = "127.0.0.1:" + std::to_string(port);
  auto refused = exchange_message(endpoint, "page.title", Json::object());
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().text().rfind("failed to connect " + endpoint + " after retrying for 5s: ", 0), 0u)
      << refused.error().text();
}

}  // namespace
}  // namespace vesk::test
