// Finding, starting and controlling the broker server from the command line: background
// starts (also racing), stale records and lock files, `status`, `server stop|restart`.

#include <gtest/gtest.h>

#include <fstream>

#include "platform/process.hpp"
#include "platform/socket.hpp"
#include "support/harness.hpp"
#include "support/process_sweep.hpp"

namespace vesk::test {
namespace {

// A loopback port with nothing listening on it (bound, read back, released).
std::uint16_t closed_port() {
  auto listener = TcpListener::bind("127.0.0.1:0");
  EXPECT_TRUE(listener.has_value());
  return listener->local_port().value_or(1);
}

Json server_record(std::uint16_t port, Pid pid, const std::string& started_at) {
  return {{"host", "127.0.0.1"}, {"port", port}, {"pid", pid}, {"startedAt", started_at}};
}

class ServerDiscovery : public ::testing::Test {
 protected:
  void TearDown() override { kill_processes_with_home(env_.home()); }

  std::vector<std::string> start_instance_args() const {
    return {"instance", "start", "--browser-binary", TestEnv::fake_browser_binary().string()};
  }

  // The background servers running for this test: `vesk server --port 0` processes.
  std::vector<Pid> background_servers() const {
    std::vector<Pid> servers;
    for (Pid pid : processes_with_home(env_.home())) {
      auto argv = process_command_line(pid).value_or(std::vector<std::string>{});
      if (argv.size() == 4 && argv[1] == "server" && argv[2] == "--port" && argv[3] == "0") servers.push_back(pid);
    }
    return servers;
  }

  // The processes with this test's HOME that run a program of this build (the system may
  // run others for them, such as Windows' console host).
  std::vector<Pid> our_programs_with_home() const {
    const std::string ours = fs::weakly_canonical(TestEnv::binary_dir()).string();
    std::vector<Pid> found;
    for (const Pid pid : processes_with_home(env_.home())) {
      const auto program = process_image_path(pid);
      if (program && fs::weakly_canonical(*program).string().starts_with(ours)) found.push_back(pid);
    }
    return found;
  }

  TestEnv env_;
};

TEST_F(ServerDiscovery, CommandWithoutServerStartsOneInTheBackgroundAndLaterOnesUseIt) {
  auto first = env_.run_vesk(start_instance_args());
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_NE(first.err.find("no VeskApp server endpoint in state"), std::string::npos);
  EXPECT_NE(first.err.find("starting background VeskApp server with " + TestEnv::vesk_binary().string()),
            std::string::npos)
      << first.err;

  const Json record = env_.read_state()["server"];
  ASSERT_TRUE(record.is_object());
  const std::string endpoint = "127.0.0.1:" + std::to_string(record["port"].get<int>());
  EXPECT_NE(first.err.find("background VeskApp server ready at " + endpoint), std::string::npos);
  EXPECT_EQ(background_servers(), std::vector<Pid>{record["pid"].get<Pid>()});
  EXPECT_FALSE(fs::exists(env_.data_dir() / "server-start.lock"));

  auto second = env_.run_vesk(start_instance_args());
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_NE(second.err.find("using running VeskApp server at " + endpoint), std::string::npos);
  EXPECT_EQ(count_of(second.err, "starting background"), 0u);
  EXPECT_EQ(env_.read_state()["server"], record);
}

// The whole life of a background server and an instance, as a user drives them.
TEST_F(ServerDiscovery, BackgroundServerRelaysToAnInstanceUntilBothAreStopped) {
  env_.set_env("FAKE_BROWSER_SCRIPT", R"({"page.title": {"result": {"title": "relayed"}}})");
  auto started = env_.run_vesk(start_instance_args());
  ASSERT_EQ(started.status, 0) << started.err;
  const Json instance = Json::parse(started.out);
  const std::string id = instance["id"];
  const Pid browser = instance["pid"];
  const Json server = env_.read_state()["server"];
  ASSERT_TRUE(server.is_object());
  const Pid server_pid = server["pid"];

  auto status = env_.run_vesk({"status"});
  ASSERT_EQ(status.status, 0) << status.err;
  EXPECT_EQ(Json::parse(status.out)["server"], server);
  EXPECT_EQ(Json::parse(status.out)["instances"], 1);

  auto title = env_.run_vesk({"title"});
  ASSERT_EQ(title.status, 0) << title.err;
  EXPECT_EQ(Json::parse(title.out), (Json{{"title", "relayed"}}));

  auto stop = env_.run_vesk({"instance", "stop", id});
  ASSERT_EQ(stop.status, 0) << stop.err;
  EXPECT_FALSE(process_is_alive(browser));
  // Nothing the browser started is left: only the server still runs one of our programs
  // with this test's HOME.
  EXPECT_EQ(our_programs_with_home(), std::vector<Pid>{server_pid});

  auto server_stop = env_.run_vesk({"server", "stop"});
  ASSERT_EQ(server_stop.status, 0) << server_stop.err;
  EXPECT_EQ(Json::parse(server_stop.out), (Json{{"ok", true}, {"pid", server_pid}, {"stopped", true}}));
  EXPECT_TRUE(eventually([&] { return our_programs_with_home().empty(); }));
  EXPECT_TRUE(env_.read_state()["server"].is_null());
}

TEST_F(ServerDiscovery, RacingInstanceStartsStartExactlyOneServer) {
  std::vector<ChildProcess*> racers;
  for (int i = 0; i < 3; ++i) racers.push_back(&env_.start_vesk(start_instance_args()));
  std::string logs;
  for (auto* racer : racers) {
    ASSERT_EQ(racer->wait_exit(), 0);
    racer->wait_for_output_end();
    logs += racer->err();
  }
  EXPECT_EQ(count_of(logs, "starting background VeskApp server"), 1u) << logs;
  EXPECT_EQ(background_servers().size(), 1u);
  // Every browser was sent to that one server. (The instance records themselves may not
  // all survive: concurrent saves of the state file are last-writer-wins.)
  const Json state = env_.read_state();
  const std::string port_argument = "--vesk-port=" + std::to_string(state["server"]["port"].get<int>());
  // Each browser records its arguments once it runs, maybe after its command returned.
  EXPECT_TRUE(eventually([&] { return count_of(read_file(env_.record_dir() / "argv.jsonl"), port_argument) == 3; }));
}

TEST_F(ServerDiscovery, RacingBrowserCommandsStartExactlyOneServer) {
  ChildProcess& first = env_.start_vesk({"title"});
  ChildProcess& second = env_.start_vesk({"url"});
  std::string logs;
  for (auto* racer : {&first, &second}) {
    // No browser is connected: each reaches the server and is told so.
    ASSERT_EQ(racer->wait_exit(), 1);
    racer->wait_for_output_end();
    EXPECT_NE(racer->err().find("noBrowser: no connected Chromium instance"), std::string::npos) << racer->err();
    logs += racer->err();
  }
  EXPECT_EQ(count_of(logs, "starting background VeskApp server"), 1u) << logs;
  EXPECT_EQ(background_servers().size(), 1u);
}

TEST_F(ServerDiscovery, StatusClearsAStaleServerRecord) {
  Json state = {{"version", 1}, {"server", server_record(closed_port(), 999999, "2026-01-01T00:00:00Z")},
                {"profiles", Json::array()}, {"instances", Json::array()}};
  env_.write_state(state);
  const std::string endpoint = "127.0.0.1:" + std::to_string(state["server"]["port"].get<int>());

  auto status = env_.run_vesk({"status"});
  ASSERT_EQ(status.status, 0) << status.err;
  EXPECT_EQ(count_of(status.err, "stored VeskApp server endpoint " + endpoint + " is not reachable; clearing it"),
            1u);
  EXPECT_EQ(Json::parse(status.out), (Json{{"app", "vesk"},
                                           {"dataDir", env_.data_dir().string()},
                                           {"instances", 0},
                                           {"profiles", 0},
                                           {"server", nullptr}}));
  EXPECT_TRUE(env_.read_state()["server"].is_null());

  auto health = env_.run_vesk({"health"});
  EXPECT_EQ(health.out, status.out);
}

TEST_F(ServerDiscovery, StatusReportsARunningServer) {
  auto server = env_.start_server();
  ASSERT_TRUE(server);
  auto status = env_.run_vesk({"status"});
  ASSERT_EQ(status.status, 0) << status.err;
  const Json printed = Json::parse(status.out);
  EXPECT_EQ(printed["server"], env_.read_state()["server"]);
  EXPECT_EQ(printed["server"]["port"], server->port);
}

TEST_F(ServerDiscovery, ServerStopTwice) {
  auto server = env_.start_server();
  ASSERT_TRUE(server);
  const Pid pid = server->process->pid();

  auto first = env_.run_vesk({"server", "stop"});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(Json::parse(first.out), (Json{{"ok", true}, {"pid", pid}, {"stopped", true}}));
  EXPECT_TRUE(server->process->wait_exit().has_value());
  EXPECT_TRUE(env_.read_state()["server"].is_null());

  auto second = env_.run_vesk({"server", "stop"});
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(Json::parse(second.out), (Json{{"ok", true}, {"stopped", false}}));
}

TEST_F(ServerDiscovery, ReportsWithNothingRecordedWriteNothing) {
  auto stop = env_.run_vesk({"server", "stop"});
  ASSERT_EQ(stop.status, 0) << stop.err;
  EXPECT_EQ(Json::parse(stop.out), (Json{{"ok", true}, {"stopped", false}}));
  auto status = env_.run_vesk({"status"});
  ASSERT_EQ(status.status, 0) << status.err;
  EXPECT_TRUE(Json::parse(status.out)["server"].is_null());
  EXPECT_FALSE(fs::exists(env_.state_path()));
  EXPECT_FALSE(fs::exists(env_.data_dir()));
}

TEST_F(ServerDiscovery, ServerRestartListensOnTheGivenPort) {
  auto old_server = env_.start_server();
  ASSERT_TRUE(old_server);
  const std::uint16_t port = closed_port();

  auto restart = env_.run_vesk({"server", "--port", std::to_string(port), "restart"});
  ASSERT_EQ(restart.status, 0) << restart.err;
  const std::string endpoint = "127.0.0.1:" + std::to_string(port);
  EXPECT_EQ(Json::parse(restart.out), (Json{{"ok", true}, {"server", endpoint}}));
  EXPECT_TRUE(old_server->process->wait_exit().has_value()) << "the old server was stopped";

  const Json record = env_.read_state()["server"];
  EXPECT_EQ(record["port"], port);
  EXPECT_NE(record["pid"], old_server->process->pid());
  auto status = env_.run_vesk({"status"});
  EXPECT_EQ(Json::parse(status.out)["server"], record) << "the new server answers";
}

TEST_F(ServerDiscovery, RecordedServerPidNowHeldByAnotherProgramIsNotKilled) {
  auto bystander = spawn_detached(TestEnv::idle_program_binary().string(), {});
  ASSERT_TRUE(bystander.has_value());
  env_.write_state({{"version", 1}, {"server", server_record(closed_port(), *bystander, "2001-01-01T00:00:00Z")},
                    {"profiles", Json::array()}, {"instances", Json::array()}});

  auto stop = env_.run_vesk({"server", "stop"});
  EXPECT_EQ(stop.status, 0) << stop.err;
  EXPECT_TRUE(process_is_alive(*bystander));
  EXPECT_TRUE(env_.read_state()["server"].is_null());
  (void)kill_process_tree(*bystander);
}

TEST_F(ServerDiscovery, SlowStaleStartLockIsTakenOver) {
  fs::create_directories(env_.data_dir());
  std::ofstream(env_.data_dir() / "server-start.lock").close();  // left by a process that died

  auto run = env_.run_vesk(start_instance_args());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("acquired server start lock " + (env_.data_dir() / "server-start.lock").string()),
            std::string::npos);
  EXPECT_NE(run.err.find("background VeskApp server ready at"), std::string::npos);
  EXPECT_FALSE(fs::exists(env_.data_dir() / "server-start.lock"));
}

}  // namespace
}  // namespace vesk::test
