// The broker link and the veskbrowser program against a fake server that the test runs.
#include "browser/link/broker_link.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <future>

#include <gtest/gtest.h>

#include "browser/test_support.hpp"
#include "protocol/framing.hpp"

namespace vesk::browser {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

struct FakeServer {
  TcpListener listener = *TcpListener::bind("127.0.0.1:0");
  std::uint16_t port = *listener.local_port();

  // Accepts one browser connection and reads its hello.
  std::pair<Connection, Message> accept_hello() {
    auto accepted = listener.accept();
    EXPECT_TRUE(accepted.has_value());
    Connection connection(std::move(accepted->socket));
    auto hello = read_message(connection);
    EXPECT_TRUE(hello.has_value()) << (hello ? "" : hello.error().text());
    return {std::move(connection), hello ? *hello : Message{}};
  }
  static void accept_as(Connection& connection, const Message& hello, bool shared) {
    Json result = {{"accepted", true}, {"instanceId", hello.params["instanceId"]}, {"protocolVersion", 1}};
    if (shared) result["shared"] = true;
    ASSERT_TRUE(write_message(connection, response_message(hello.id, result)));
  }
  static Message ask(Connection& connection, const std::string& id, const std::string& method, Json params) {
    EXPECT_TRUE(write_message(connection, request_message(id, method, std::move(params))));
    auto answer = read_message(connection);
    EXPECT_TRUE(answer.has_value()) << (answer ? "" : answer.error().text());
    return answer ? *answer : Message{};
  }
};

BrokerLinkOptions link_to(const FakeServer& server) {
  BrokerLinkOptions options;
  options.port = server.port;
  options.token = "tok";
  options.instance_id = "inst_abc12345";
  options.reconnect_window = 2s;
  options.shared_retry_pause = 10ms;
  return options;
}

TEST(BrokerLink, HelloThenServesRequestsAndEndsWhenChromiumDies) {
  TempDir dir;
  auto running = testing::start_test_browser(dir);
  VESK_REQUIRE_BROWSER(running);
  FakeServer server;
  std::atomic<bool> stop{false};
  auto link = std::async(std::launch::async, [&] { return run_broker_link(link_to(server), *running, stop); });

  // The first time the record is not saved yet: accepted as shared, so it comes back.
  auto [first, first_hello] = server.accept_hello();
  EXPECT_EQ(first_hello.method, "hello");
  EXPECT_EQ(first_hello.params, (Json{{"instanceId", "inst_abc12345"}, {"protocolVersion", 1}, {"token", "tok"}}));
  FakeServer::accept_as(first, first_hello, true);
  auto [second, second_hello] = server.accept_hello();
  FakeServer::accept_as(second, second_hello, false);

  Message title = FakeServer::ask(second, "cli_1", "page.title", {{"args", Json::array()}, {"tab", nullptr}});
  EXPECT_EQ(title.id, "cli_1");
  EXPECT_EQ(title.kind, MessageKind::Response);
  ASSERT_TRUE(title.result.has_value());
  EXPECT_EQ((*title.result)["title"], "");

  Message unknown = FakeServer::ask(second, "cli_2", "no.such.method", {{"args", Json::array()}});
  EXPECT_EQ(unknown.id, "cli_2");
  ASSERT_TRUE(unknown.error.has_value());
  EXPECT_EQ(unknown.error->code, "unsupportedMethod");

  Message unknown_ref = FakeServer::ask(second, "cli_3", "element.click", {{"selector", "e99"}, {"args", Json::array()}});
  ASSERT_TRUE(unknown_ref.error.has_value());
  EXPECT_EQ(unknown_ref.error->code, "elementNotFound");

  ::kill(running->pid(), SIGKILL);
  ASSERT_EQ(link.wait_for(60s), std::future_status::ready);
  EXPECT_EQ(link.get(), LinkEnd::ChromiumGone);
}

TEST(BrokerLink, GivesUpWhenTheServerStaysAway) {
  TempDir dir;
  auto running = testing::start_test_browser(dir);
  VESK_REQUIRE_BROWSER(running);
  BrokerLinkOptions options;
  {
    FakeServer server;
    options = link_to(server);
    std::atomic<bool> stop{false};
    auto link = std::async(std::launch::async, [&] { return run_broker_link(options, *running, stop); });
    auto [connection, hello] = server.accept_hello();
    FakeServer::accept_as(connection, hello, false);
    connection.close();  // the server goes away for good with its listener
    server.listener = *TcpListener::bind("127.0.0.1:0");
    ASSERT_EQ(link.wait_for(60s), std::future_status::ready);
    EXPECT_EQ(link.get(), LinkEnd::BrokerGone);
  }
  EXPECT_FALSE(running->closed());
}

bool group_exists(pid_t group) { return ::kill(-group, 0) == 0; }

// The whole program: started like `vesk instance start` does, stopped with SIGTERM, it
// leaves no Chromium behind.
TEST(VeskbrowserProgram, ServesAndTakesChromiumDownOnSigterm) {
  if (!find_chromium_binary()) GTEST_SKIP() << "no Chromium installed";
  const char* binary_dir = std::getenv("VESK_BINARY_DIR");
  ASSERT_NE(binary_dir, nullptr);
  const std::string program = std::string(binary_dir) + "/veskbrowser";
  TempDir dir;
  FakeServer server;
  const std::string profile = (dir.path() / "profile").string();
  std::vector<std::string> args = {program,
                                   "--vesk-host=127.0.0.1",
                                   "--vesk-port=" + std::to_string(server.port),
                                   "--vesk-token=tok",
                                   "--vesk-instance-id=inst_x",
                                   "--vesk-profile-id=default",
                                   "--user-data-dir=" + profile,
                                   "--headless=new"};
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  auto [connection, hello] = server.accept_hello();
  FakeServer::accept_as(connection, hello, false);
  Message url = FakeServer::ask(connection, "cli_9", "page.url", {{"args", Json::array()}, {"tab", nullptr}});
  ASSERT_TRUE(url.result.has_value()) << (url.error ? url.error->message : "");
  EXPECT_EQ((*url.result)["url"], "about:blank");

  // Chromium's pid is in the log; its group must be gone once veskbrowser has exited.
  std::string log = testing::read_file(std::filesystem::path(profile) / "veskbrowser.log");
  auto at = log.find("started with pid ");
  ASSERT_NE(at, std::string::npos) << log;
  pid_t chromium = std::stoi(log.substr(at + 17));
  EXPECT_TRUE(group_exists(chromium));
  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (group_exists(chromium) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_FALSE(group_exists(chromium));
  if (group_exists(chromium)) ::kill(-chromium, SIGKILL);
}

}  // namespace
}  // namespace vesk::browser
