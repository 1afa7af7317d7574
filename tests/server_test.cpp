// `vesk server` as a real process: start-up, hellos, and requests relayed to fake
// browsers over loopback.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/fake_browser.hpp"
#include "support/harness.hpp"
#include "support/process_sweep.hpp"

namespace vesk::test {
namespace {

using namespace std::chrono_literals;

const char* const kKnownId = "inst_known001";
const char* const kKnownToken = "right-token";

Json state_with_known_instance(const char* status = "stopped") {
  return {{"version", 1},
          {"server", nullptr},
          {"profiles", Json::array({{{"id", "p1"}, {"name", "default"}, {"path", "/tmp/p1"},
                                     {"createdAt", "2026-01-01T00:00:00Z"}, {"lastUsedAt", nullptr}}})},
          {"instances", Json::array({{{"id", kKnownId}, {"profileId", "p1"}, {"mode", "headless"},
                                      {"pid", nullptr}, {"host", "127.0.0.1"}, {"port", 9},
                                      {"token", kKnownToken}, {"status", status},
                                      {"createdAt", "2026-01-01T00:00:00Z"}}})}};
}

Json answer_message(const std::string& id, const Json& result) {
  return {{"id", id}, {"kind", "response"}, {"version", 1}, {"method", nullptr},
          {"params", Json::object()}, {"result", result}, {"error", nullptr}};
}

Json error_answer(const std::string& id, const std::string& code, const std::string& message) {
  return {{"id", id}, {"kind", "error"}, {"version", 1}, {"method", nullptr},
          {"params", Json::object()}, {"result", nullptr},
          {"error", {{"code", code}, {"message", message}, {"details", nullptr}}}};
}

class ServerProcess : public ::testing::Test {
 protected:
  void start_server() {
    auto started = env_.start_server();
    ASSERT_TRUE(started);
    server_ = *started;
  }

  std::string log() const { return server_.process->err(); }

  // Waits until the server has registered `key` for the `count`-th time.
  bool wait_registered(const std::string& key, std::size_t count = 1) {
    return server_.process->wait_for_err_count("INFO registered Chromium connection for " + key + "\n", count);
  }

  std::unique_ptr<FakeBrowser> browser(const std::string& key, Json script,
                                       std::optional<std::string> token = "any-token") {
    FakeBrowserConfig config;
    config.port = server_.port;
    config.instance_id = key;
    config.token = std::move(token);
    config.script = std::move(script);
    std::string error;
    auto fake = FakeBrowser::connect(config, &error);
    EXPECT_TRUE(fake) << error;
    if (!fake) return nullptr;
    EXPECT_TRUE(fake->accepted()) << fake->hello_answer().dump();
    fake->serve_in_background();
    return fake;
  }

  std::string call_text(const std::string& text) {
    std::string error;
    auto answer = call_raw(server_.port, text, kGenerousWait, &error);
    EXPECT_TRUE(answer) << error;
    return answer.value_or("null");
  }

  Json call(const std::string& id, const std::string& method, const Json& params = Json::object()) {
    return Json::parse(call_text(request_text(id, method, params)));
  }

  TestEnv env_;
  ServerHandle server_;
};

TEST_F(ServerProcess, AnnouncesAndRecordsTheSystemChosenPort) {
  Json earlier = state_with_known_instance();
  earlier["server"] = {{"host", "127.0.0.1"}, {"port", 1}, {"pid", 1}, {"startedAt", "2000-01-01T00:00:00Z"}};
  env_.write_state(earlier);
  start_server();

  EXPECT_NE(server_.port, 0);
  EXPECT_EQ(server_.host, "127.0.0.1");
  EXPECT_EQ(server_.process->out(), "vesk server ready on 127.0.0.1:" + std::to_string(server_.port) + "\n");
  Json record = env_.read_state()["server"];
  EXPECT_EQ(record["host"], "127.0.0.1");
  EXPECT_EQ(record["port"], server_.port);
  EXPECT_EQ(record["pid"], server_.process->pid());
  EXPECT_NE(record["startedAt"], "2000-01-01T00:00:00Z");
  EXPECT_EQ(env_.read_state()["instances"], earlier["instances"]);

  const std::string listening = "TCP socket server listening on 127.0.0.1:" + std::to_string(server_.port);
  ASSERT_TRUE(server_.process->wait_for_err(listening));
  std::string text = log();
  auto ensured = text.find("INFO ensured data dir " + env_.data_dir().string() + "\n");
  auto ready = text.find("INFO server state ready with 1 profiles and 1 instances\n");
  EXPECT_NE(ensured, std::string::npos) << text;
  EXPECT_NE(ready, std::string::npos) << text;
  EXPECT_LT(ensured, ready);
  EXPECT_LT(ready, text.find(listening));
}

TEST_F(ServerProcess, TakenPortFailsToBindWithItsCauseAndRecordsNothing) {
  start_server();
  const std::string endpoint = "127.0.0.1:" + std::to_string(server_.port);
  RunResult second = env_.run_vesk({"server", "--port", std::to_string(server_.port)});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("failed to bind " + endpoint + ": "), std::string::npos) << second.err;
  EXPECT_NE(second.err.find("in use"), std::string::npos) << second.err;
  EXPECT_EQ(second.out, "");
  EXPECT_EQ(env_.read_state()["server"]["pid"], server_.process->pid());
}

TEST_F(ServerProcess, RequestWithoutBrowserGetsNoBrowser) {
  start_server();
  std::string answer = call_text(request_text("cli_0123", "page.title", {{"tab", nullptr}}));
  EXPECT_EQ(answer,
            R"({"id":"cli_0123","kind":"error","version":1,"method":null,"params":{},"result":null,)"
            R"("error":{"code":"noBrowser","message":"no connected Chromium instance","details":null}})");
  EXPECT_TRUE(server_.process->wait_for_err("INFO received CLI request cli_0123 page.title\n"));
}

TEST_F(ServerProcess, ConnectionClosedAtOnceIsLoggedWithEndOfStream) {
  start_server();
  RawSocket socket = connect_loopback(server_.port, kGenerousWait);
  ASSERT_TRUE(socket.valid());
  socket.close();
  EXPECT_TRUE(server_.process->wait_for_err("INFO accepted socket connection from 127.0.0.1:"));
  // Closed before the server looked at it, its user cannot be told: refused unread.
  EXPECT_TRUE(eventually([&] {
    const std::string text = log();
    return text.find(" closed: failed to fill whole buffer\n") != std::string::npos ||
           text.find(": cannot tell which user runs it: the peer has closed its socket already\n") != std::string::npos;
  })) << log();
}

// Every hello form and outcome, each against a fresh server and state file.
TEST(ServerHello, IsAcceptedOrRejectedAsTheStateSays) {
  struct Case {
    const char* name;
    HelloForm form;
    Json version;
    std::optional<std::string> instance_id;
    std::optional<std::string> token;
    Json result;  // null for a rejection
    Json error;   // the rejection's error
    const char* status_after;
    const char* log_line;
  };
  const Json mismatch2 = {{"code", "protocolVersionMismatch"}, {"message", "expected protocol version 1, got 2"}, {"details", nullptr}};
  const Json mismatch0 = {{"code", "protocolVersionMismatch"}, {"message", "expected protocol version 1, got 0"}, {"details", nullptr}};
  const Json bad_token = {{"code", "invalidToken"}, {"message", "invalid instance token"}, {"details", nullptr}};
  const Case cases[] = {
      {"known instance", HelloForm::Message, 1, kKnownId, kKnownToken,
       {{"accepted", true}, {"instanceId", kKnownId}, {"protocolVersion", 1}}, nullptr, "running",
       "Chromium instance inst_known001 registered with VeskApp"},
      {"known instance, older frame", HelloForm::Frame, 1, kKnownId, kKnownToken,
       {{"accepted", true}, {"instanceId", kKnownId}, {"protocolVersion", 1}}, nullptr, "running",
       "Chromium instance inst_known001 registered with VeskApp"},
      {"unknown instance", HelloForm::Message, 1, "tab-7", "whatever",
       {{"accepted", true}, {"instanceId", "tab-7"}, {"protocolVersion", 1}, {"shared", true}}, nullptr, "stopped",
       "accepted Chromium hello for unknown instance tab-7 as shared tab"},
      {"no instance id", HelloForm::Message, 1, std::nullopt, std::nullopt,
       {{"accepted", true}, {"instanceId", ""}, {"protocolVersion", 1}, {"shared", true}}, nullptr, "stopped",
       "accepted Chromium hello for unknown instance  as shared tab"},
      {"protocol version 2", HelloForm::Message, 2, kKnownId, kKnownToken, nullptr, mismatch2, "stopped",
       "rejected Chromium hello for inst_known001: protocol version 2"},
      {"no protocol version", HelloForm::Message, nullptr, kKnownId, kKnownToken, nullptr, mismatch0, "stopped",
       "rejected Chromium hello for inst_known001: protocol version 0"},
      {"wrong token", HelloForm::Message, 1, kKnownId, "wrong-token", nullptr, bad_token, "stopped",
       "rejected Chromium hello for inst_known001: invalid token"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestEnv env;
    env.write_state(state_with_known_instance("stopped"));
    auto server = env.start_server();
    ASSERT_TRUE(server);

    FakeBrowserConfig config;
    config.port = server->port;
    config.hello_form = c.form;
    config.protocol_version = c.version;
    config.instance_id = c.instance_id;
    config.token = c.token;
    std::string error;
    auto browser = FakeBrowser::connect(config, &error);
    ASSERT_TRUE(browser) << error;

    const std::string hello_id = c.form == HelloForm::Frame ? "hello" : "hello-1";
    Json expected = c.result.is_null()
                        ? Json{{"id", hello_id}, {"kind", "error"}, {"version", 1}, {"method", nullptr},
                               {"params", Json::object()}, {"result", nullptr}, {"error", c.error}}
                        : answer_message(hello_id, c.result);
    EXPECT_EQ(browser->hello_answer(), expected);
    EXPECT_TRUE(server->process->wait_for_err(std::string("INFO ") + c.log_line + "\n")) << server->process->err();
    EXPECT_EQ(env.read_state()["instances"][0]["status"], c.status_after);
    if (c.result.is_null()) {
      EXPECT_TRUE(browser->wait_for_broker_close()) << "a rejected browser's connection stays open";
    } else {
      EXPECT_TRUE(server->process->wait_for_err(
          "INFO registered Chromium connection for " + c.instance_id.value_or("") + "\n"));
    }
  }
}

TEST_F(ServerProcess, RequestReachesTheBrowserUnchangedAndItsAnswerComesBack) {
  env_.write_state(state_with_known_instance());
  start_server();
  auto fake = browser(kKnownId,
                      {{"page.title", {{"result", {{"title", "Ünïcode \"quoted\""}}}}},
                       {"element.click", {{"error", {{"code", "browserError"}, {"message", "no such element"}}}}}},
                      kKnownToken);
  ASSERT_TRUE(fake && wait_registered(kKnownId));

  const Json params = {{"args", {"a", 1, -2, true, nullptr}}, {"nested", {{"x", "tab\there é \u0001"}}},
                       {"sourceCommand", "page.title"}, {"tab", nullptr}};
  const std::string sent = request_text("cli_0123456789abcdef0123456789abcdef", "page.title", params);
  Json answer = Json::parse(call_text(sent));
  ASSERT_EQ(fake->requests().size(), 1u);
  EXPECT_EQ(fake->requests()[0], sent);
  EXPECT_EQ(answer, answer_message("cli_0123456789abcdef0123456789abcdef", {{"title", "Ünïcode \"quoted\""}}));
  EXPECT_TRUE(server_.process->wait_for_err("INFO forwarding page.title to Chromium\n"));

  EXPECT_EQ(call("cli_click", "element.click"), error_answer("cli_click", "browserError", "no such element"));
}

TEST_F(ServerProcess, HeartbeatFrameFromAClientIsRelayedAsARequest) {
  start_server();
  auto fake = browser("tab", Json::object());
  ASSERT_TRUE(fake && wait_registered("tab"));
  Json answer = Json::parse(call_text(R"({"type":"heartbeat","seq":3})"));
  EXPECT_EQ(answer["id"], "heartbeat");
  EXPECT_EQ(answer["result"]["method"], "heartbeat");
  EXPECT_EQ(answer["result"]["params"], Json({{"seq", 3}, {"type", "heartbeat"}}));
}

TEST_F(ServerProcess, SharedTabResultsCarryTheVeskMemberOnlyWhenTheyAreObjects) {
  struct Case {
    const char* name;
    Json behaviour;
    Json result;  // as the client must see it
  };
  const Json marker = {{"agentId", "tab-shared"}, {"shared", true}};
  const Case cases[] = {
      {"object", {{"result", {{"title", "x"}}}}, {{"title", "x"}, {"vesk", marker}}},
      {"object with its own vesk", {{"result", {{"a", 1}, {"vesk", "mine"}}}}, {{"a", 1}, {"vesk", marker}}},
      {"empty object", {{"result", Json::object()}}, {{"vesk", marker}}},
      {"array", {{"result", {1, 2}}}, {1, 2}},
      {"string", {{"result", "text"}}, "text"},
      {"null", {{"result", nullptr}}, nullptr},
      {"error answer", {{"error", {{"code", "browserError"}, {"message", "m"}}}}, nullptr},
  };
  Json sequence = Json::array();
  for (const Case& c : cases) sequence.push_back(c.behaviour);
  start_server();
  auto fake = browser("tab-shared", {{"sequence", sequence}});
  ASSERT_TRUE(fake && wait_registered("tab-shared"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Json answer = call(std::string("cli_") + c.name, "page.snapshot");
    EXPECT_EQ(answer["result"], c.result);
  }
}

TEST_F(ServerProcess, EventsAndHeartbeatsBeforeTheAnswerAreSkipped) {
  start_server();
  const Json event = {{"id", "evt-1"}, {"kind", "event"}, {"version", 1}, {"method", "page.loaded"},
                      {"params", Json::object()}, {"result", {{"not", "the answer"}}}, {"error", nullptr}};
  auto fake = browser("tab", {{"*", {{"before", {event, {{"type", "heartbeat"}}}}, {"result", "real"}}}});
  ASSERT_TRUE(fake && wait_registered("tab"));
  EXPECT_EQ(call("cli_ev", "page.title"), answer_message("cli_ev", "real"));
  EXPECT_TRUE(server_.process->wait_for_err("INFO received Chromium event page.loaded while waiting for response\n"));
  EXPECT_TRUE(server_.process->wait_for_err("INFO received Chromium event heartbeat while waiting for response\n"));
  // The next request gets its own answer, not a leftover.
  EXPECT_EQ(call("cli_ev2", "page.title"), answer_message("cli_ev2", "real"));
}

TEST_F(ServerProcess, DeadBrowserGivesBrowserDisconnectedOnceThenNoBrowser) {
  start_server();
  auto fake = browser("tab", Json::object());
  ASSERT_TRUE(fake && wait_registered("tab"));
  fake->disconnect();
  ASSERT_TRUE(fake->wait_until_finished());

  Json first = call("cli_1", "page.title");
  EXPECT_EQ(first["error"]["code"], "browserDisconnected") << first.dump();
  EXPECT_NE(first["error"]["message"], "") << first.dump();
  EXPECT_NE(first["error"]["message"], "timed out waiting for Chromium response");
  EXPECT_EQ(call("cli_2", "page.title"), error_answer("cli_2", "noBrowser", "no connected Chromium instance"));
  EXPECT_TRUE(server_.process->wait_for_err("INFO unregistered Chromium connection for tab\n"));
}

TEST_F(ServerProcess, SecondHelloWithTheSameIdTakesOver) {
  start_server();
  auto first = browser("tab", {{"*", {{"result", "first"}}}});
  ASSERT_TRUE(first && wait_registered("tab"));
  auto second = browser("tab", {{"*", {{"result", "second"}}}});
  ASSERT_TRUE(second && wait_registered("tab", 2));
  // The replaced connection is closed and its clean-up leaves the newer entry alone.
  EXPECT_TRUE(first->wait_until_finished());
  EXPECT_TRUE(server_.process->wait_for_err("INFO unregistered Chromium connection for tab\n"));
  EXPECT_EQ(call("cli_a", "page.title")["result"], "second");
  EXPECT_EQ(call("cli_b", "page.title")["result"], "second");
  EXPECT_TRUE(first->requests().empty());
}

TEST_F(ServerProcess, ManyClientsAtOnceEachGetTheirOwnAnswer) {
  start_server();
  auto fake = browser("tab", Json::object());  // echoes method and params
  ASSERT_TRUE(fake && wait_registered("tab"));
  const Json marker = {{"agentId", "tab"}, {"shared", true}};
  constexpr int kClients = 64;
  std::vector<Json> answers(kClients);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      std::string error;
      auto text = call_raw(server_.port, request_text("cli_" + std::to_string(i), "page.eval", {{"n", i}}),
                           kGenerousWait, &error);
      answers[i] = text ? Json::parse(*text) : Json(error);
    });
  }
  for (auto& client : clients) client.join();
  for (int i = 0; i < kClients; ++i) {
    EXPECT_EQ(answers[i], answer_message("cli_" + std::to_string(i),
                                         {{"method", "page.eval"}, {"params", {{"n", i}}}, {"vesk", marker}}));
  }
  EXPECT_EQ(fake->requests().size(), static_cast<std::size_t>(kClients));
}

}  // namespace
}  // namespace vesk::test
