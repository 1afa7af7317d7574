// Another user of the machine reaches the broker's loopback port: neither its client
// requests nor its browser hellos (even with our instance id and token, which the
// process list shows) get anywhere, and our browser keeps serving us.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "support/harness.hpp"
#include "support/process_sweep.hpp"

namespace vesk::test {
namespace {

constexpr const char* kStranger = "65534";

class OtherUser : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "running a client as another user needs root";
    env_.set_env("FAKE_BROWSER_SCRIPT", R"({"page.title": {"result": {"title": "ours"}}})");
    auto started = env_.start_server();
    ASSERT_TRUE(started);
    server_ = *started;
  }
  void TearDown() override { kill_processes_with_home(env_.home()); }

  // `program args…` run as the unprivileged user, with a HOME of its own that points at
  // our server (the stranger can read the port from anywhere; it cannot read our files).
  ChildProcess& start_as_stranger(const fs::path& program, const std::vector<std::string>& args) {
    const fs::path home = env_.root() / "stranger";
    fs::create_directories(home / ".veskapp");
    const Json state = {{"version", 1},
                        {"server", {{"host", "127.0.0.1"}, {"port", server_.port}, {"pid", server_.process->pid()},
                                    {"startedAt", "2026-01-01T00:00:00Z"}}},
                        {"profiles", Json::array()},
                        {"instances", Json::array()}};
    std::ofstream(home / ".veskapp" / "state.json") << state.dump();
    for (const fs::path& dir : {env_.root(), home, home / ".veskapp"}) ::chmod(dir.c_str(), 0755);
    ::chmod((home / ".veskapp" / "state.json").c_str(), 0644);

    std::vector<std::string> full{"--reuid=" + std::string(kStranger), "--regid=" + std::string(kStranger),
                                  "--clear-groups", "/usr/bin/env", "HOME=" + home.string(), program.string()};
    full.insert(full.end(), args.begin(), args.end());
    return env_.start("/usr/bin/setpriv", full);
  }

  TestEnv env_;
  ServerHandle server_;
};

TEST_F(OtherUser, IsRefusedBeforeItsFirstByteAndOurBrowserStaysOurs) {
  auto started = env_.run_vesk({"instance", "start", "--browser-binary", TestEnv::fake_browser_binary().string()});
  ASSERT_EQ(started.status, 0) << started.err;
  const Json record = Json::parse(started.out);
  const std::string id = record["id"];
  ASSERT_TRUE(server_.process->wait_for_err("registered Chromium connection for " + id + "\n"));

  // A hello with our instance id and token, and a client request.
  ChildProcess& browser = start_as_stranger(
      TestEnv::fake_browser_binary(),
      {"--vesk-host=127.0.0.1", "--vesk-port=" + std::to_string(server_.port),
       "--vesk-token=" + record["token"].get<std::string>(), "--vesk-instance-id=" + id});
  ChildProcess& client = start_as_stranger(TestEnv::vesk_binary(), {"eval", "document.title='forged'"});
  EXPECT_EQ(browser.wait_exit(), 1) << browser.err();
  EXPECT_EQ(client.wait_exit(), 1) << client.err();
  EXPECT_TRUE(server_.process->wait_for_err_count("it runs as another user (uid " + std::string(kStranger) + ")", 2))
      << server_.process->err();

  // Nothing it sent was read, nothing was registered or relayed.
  const std::string log = server_.process->err();
  EXPECT_EQ(count_of(log, "registered Chromium connection for " + id + "\n"), 1u) << log;
  EXPECT_EQ(count_of(log, "received CLI request"), 0u) << log;
  EXPECT_EQ(count_of(log, "received Chromium hello frame"), 1u) << log;

  auto title = env_.run_vesk({"title"});
  ASSERT_EQ(title.status, 0) << title.err;
  EXPECT_EQ(Json::parse(title.out), (Json{{"title", "ours"}}));
  for (const auto& request : env_.recorded_requests()) EXPECT_EQ(request.find("forged"), std::string::npos);
}

}  // namespace
}  // namespace vesk::test
