// `vesk instance start|list|stop` as real processes, with a real server and the fake
// browser program as the browser binary.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "base/timestamp.hpp"
#include "platform/process.hpp"
#include "support/harness.hpp"
#include "support/process_sweep.hpp"

namespace vesk::test {
namespace {

// A full match with ECMAScript syntax (the test framework's own matcher knows only a
// reduced syntax on Windows).
MATCHER_P(FullyMatches, pattern, std::string("fully matches ") + pattern) {
  return std::regex_match(arg, std::regex(pattern));
}

std::vector<Json> jsonl(const fs::path& file) {
  std::vector<Json> lines;
  std::istringstream in(read_file(file));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(Json::parse(line));
  }
  return lines;
}

Json instance_record(const std::string& id, std::optional<Pid> pid, const std::string& created_at) {
  return {{"id", id},         {"profileId", "default"}, {"mode", "headless"},
          {"pid", pid ? Json(*pid) : Json(nullptr)},  {"host", "127.0.0.1"},
          {"port", 9},        {"token", "t"},           {"status", "running"},
          {"createdAt", created_at}};
}

// A process that is not a browser of ours, standing in for whatever holds a pid now.
class Bystander {
 public:
  Bystander() {
    auto pid = spawn_detached(TestEnv::idle_program_binary().string(), {});
    EXPECT_TRUE(pid.has_value());
    pid_ = pid.value_or(0);
  }
  ~Bystander() { (void)kill_process_tree(pid_); }
  Bystander(const Bystander&) = delete;
  Bystander& operator=(const Bystander&) = delete;
  [[nodiscard]] Pid pid() const { return pid_; }

 private:
  Pid pid_ = 0;
};

class InstanceCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    auto started = env_.start_server();
    ASSERT_TRUE(started);
    server_ = *started;
  }
  void TearDown() override { kill_processes_with_home(env_.home()); }

  RunResult start_instance(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"instance", "start", "--browser-binary", TestEnv::fake_browser_binary().string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return env_.run_vesk(args);
  }

  // The arguments the fake browser with this pid was started with (argv[0] left out).
  std::vector<std::string> browser_arguments(Pid pid) {
    std::vector<std::string> args;
    eventually([&] {
      for (const auto& line : jsonl(env_.record_dir() / "argv.jsonl")) {
        if (line["pid"] == pid) {
          args = line["argv"].get<std::vector<std::string>>();
          args.erase(args.begin());
          return true;
        }
      }
      return false;
    });
    return args;
  }

  TestEnv env_;
  ServerHandle server_;
};

TEST_F(InstanceCommands, StartRecordsTheInstanceAndTheBrowserConnects) {
  struct Case {
    std::vector<std::string> flags;
    std::string mode;
    std::string mode_argument;
  };
  const Case cases[] = {
      {{}, "headless", "--headless=new"},
      {{"--headless"}, "headless", "--headless=new"},
      {{"--headed"}, "headed", "--headed"},
  };
  std::size_t started = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode_argument);
    auto run = start_instance(c.flags);
    ASSERT_EQ(run.status, 0) << run.err;
    const Json printed = Json::parse(run.out);
    const std::string id = printed["id"];
    const std::string token = printed["token"];
    EXPECT_THAT(id, FullyMatches("inst_[a-z0-9]{8}"));
    EXPECT_THAT(token, FullyMatches("[A-Za-z0-9]{48}"));
    EXPECT_EQ(printed["status"], "running");
    EXPECT_EQ(printed["mode"], c.mode);
    EXPECT_EQ(printed["profileId"], "default");
    EXPECT_EQ(printed["host"], "127.0.0.1");
    EXPECT_EQ(printed["browserBinary"], TestEnv::fake_browser_binary().string());
    ASSERT_TRUE(printed["pid"].is_number_unsigned());
    const Pid pid = printed["pid"];
    EXPECT_NE(run.err.find("using reachable VeskApp server endpoint 127.0.0.1:" + std::to_string(server_.port)),
              std::string::npos);

    // The record in the state is the printed one, appended at the end.
    const Json instances = env_.read_state()["instances"];
    ASSERT_EQ(instances.size(), ++started);
    EXPECT_EQ(instances.back()["id"], id);
    EXPECT_EQ(instances.back()["pid"], pid);
    EXPECT_EQ(instances.back()["token"], token);

    EXPECT_EQ(browser_arguments(pid),
              (std::vector<std::string>{
                  "--vesk-host=127.0.0.1",
                  "--vesk-port=" + std::to_string(server_.port),
                  "--vesk-token=" + token,
                  "--vesk-instance-id=" + id,
                  "--vesk-profile-id=default",
                  "--user-data-dir=" + (env_.data_dir() / "browser-profiles" / "default").string(),
                  c.mode_argument,
              }));
    // The browser said hello and the server registered it under the instance id. (A
    // browser as quick as the fake one may say hello before the launcher has saved its
    // record; the server then takes it as a shared tab, so the token check is not
    // asserted here.)
    ASSERT_TRUE(server_.process->wait_for_err("registered Chromium connection for " + id + "\n"));
    const Json after_hello = env_.read_state();
    for (const auto& record : after_hello["instances"]) {
      if (record["id"] == id) {
        EXPECT_EQ(record["status"], "running");
      }
    }
  }
}

TEST_F(InstanceCommands, ListPrintsEveryRecordInFileOrder) {
  auto empty = env_.run_vesk({"instance", "list"});
  ASSERT_EQ(empty.status, 0) << empty.err;
  EXPECT_EQ(empty.out, "[]\n");

  auto first = start_instance();
  auto second = start_instance({"--headed", "--profile", "work"});
  ASSERT_EQ(first.status, 0) << first.err;
  ASSERT_EQ(second.status, 0) << second.err;
  auto list = env_.run_vesk({"instance", "list"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(Json::parse(list.out), Json::array({Json::parse(first.out), Json::parse(second.out)}));
  EXPECT_NE(list.err.find("found 2 instances"), std::string::npos);
}

TEST_F(InstanceCommands, StopKillsTheBrowserAndRemovesTheRecord) {
  auto started = start_instance();
  ASSERT_EQ(started.status, 0) << started.err;
  const Json record = Json::parse(started.out);
  const std::string id = record["id"];
  const Pid pid = record["pid"];
  ASSERT_TRUE(server_.process->wait_for_err("registered Chromium connection for " + id + "\n"));

  auto stop = env_.run_vesk({"instance", "stop", id});
  ASSERT_EQ(stop.status, 0) << stop.err;
  EXPECT_EQ(Json::parse(stop.out), (Json{{"stopped", id}}));
  EXPECT_NE(stop.err.find("terminating pid " + std::to_string(pid) + " for instance " + id), std::string::npos);
  EXPECT_FALSE(process_is_alive(pid));
  EXPECT_TRUE(env_.read_state()["instances"].empty());

  auto again = env_.run_vesk({"instance", "stop", id});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.out, "");
  EXPECT_NE(again.err.find("instance not found: " + id), std::string::npos) << again.err;
}

TEST_F(InstanceCommands, StopOfAGoneProcessAndOfAnIdRecordedTwice) {
  const std::string now = utc_timestamp();
  const auto gone = pid_of_an_exited_process();
  ASSERT_TRUE(gone.has_value());
  Bystander first_of_twin;
  Bystander second_of_twin;

  Json state = env_.read_state();
  state["instances"] = Json::array({
      instance_record("inst_gone0000", *gone, now),
      instance_record("inst_twin0000", first_of_twin.pid(), now),
      instance_record("inst_other000", std::nullopt, now),
      instance_record("inst_twin0000", second_of_twin.pid(), now),
  });
  env_.write_state(state);

  auto stop_gone = env_.run_vesk({"instance", "stop", "inst_gone0000"});
  ASSERT_EQ(stop_gone.status, 0) << stop_gone.err;
  EXPECT_EQ(Json::parse(stop_gone.out), (Json{{"stopped", "inst_gone0000"}}));

  auto stop_twin = env_.run_vesk({"instance", "stop", "inst_twin0000"});
  ASSERT_EQ(stop_twin.status, 0) << stop_twin.err;
  EXPECT_FALSE(process_is_alive(first_of_twin.pid()));
  EXPECT_TRUE(process_is_alive(second_of_twin.pid())) << "only the first record's pid is killed";

  const Json left = env_.read_state()["instances"];
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0]["id"], "inst_other000");
}

TEST_F(InstanceCommands, RecordedPidNowHeldByAnotherProgramIsNotKilled) {
  Bystander bystander;
  Json state = env_.read_state();
  // Recorded long before the process now holding the pid started (a reboot, a reuse).
  Json record = instance_record("inst_reused00", bystander.pid(), "2001-01-01T00:00:00Z");
  record["browserBinary"] = TestEnv::fake_browser_binary().string();
  state["instances"] = Json::array({record});
  env_.write_state(state);

  auto stop = env_.run_vesk({"instance", "stop", "inst_reused00"});
  ASSERT_EQ(stop.status, 0) << stop.err;
  EXPECT_TRUE(process_is_alive(bystander.pid()));
  EXPECT_NE(stop.err.find("treating it as already gone"), std::string::npos) << stop.err;
  EXPECT_TRUE(env_.read_state()["instances"].empty());
}

TEST_F(InstanceCommands, ConcurrentStartsEachLeaveARecordOfTheirRunningBrowser) {
  constexpr std::size_t kStarts = 20;
  std::vector<ChildProcess*> starts;
  for (std::size_t i = 0; i < kStarts; ++i) {
    starts.push_back(&env_.start_vesk({"instance", "start", "--browser-binary", TestEnv::fake_browser_binary().string()}));
  }
  std::set<std::string> printed_ids;
  for (ChildProcess* start : starts) {
    ASSERT_EQ(start->wait_exit(), 0) << start->err();
    start->wait_for_output_end();
    printed_ids.insert(Json::parse(start->out())["id"].get<std::string>());
  }
  ASSERT_EQ(printed_ids.size(), kStarts);

  const Json instances = env_.read_state()["instances"];
  std::set<std::string> recorded_ids;
  for (const auto& record : instances) {
    recorded_ids.insert(record["id"].get<std::string>());
    ASSERT_TRUE(record["pid"].is_number_unsigned()) << record.dump();
    EXPECT_TRUE(process_is_alive(record["pid"].get<Pid>())) << record.dump();
    EXPECT_EQ(record["status"], "running");
  }
  EXPECT_EQ(recorded_ids, printed_ids);
  // Each browser records its arguments once it runs, maybe after its command returned.
  const auto browsers_started = [&] { return jsonl(env_.record_dir() / "argv.jsonl").size(); };
  EXPECT_TRUE(eventually([&] { return browsers_started() >= kStarts; }));
  EXPECT_EQ(browsers_started(), kStarts) << "one browser per start, no more";
}

TEST_F(InstanceCommands, ACommandRightAfterStartUsesThatInstance) {
  // A browser that takes a while to say hello: the command finds no browser connected.
  env_.set_env("FAKE_BROWSER_HELLO_DELAY_MS", "700");
  env_.set_env("FAKE_BROWSER_SCRIPT", R"({"page.title": {"result": {"title": "the started one"}}})");
  constexpr int kRounds = 8;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    auto started = start_instance();
    ASSERT_EQ(started.status, 0) << started.err;
    const std::string id = Json::parse(started.out)["id"];
    auto title = env_.run_vesk({"title"});
    ASSERT_EQ(title.status, 0) << title.err;
    EXPECT_EQ(Json::parse(title.out), (Json{{"title", "the started one"}}));

    const Json instances = env_.read_state()["instances"];
    ASSERT_EQ(instances.size(), 1u) << instances.dump();
    EXPECT_EQ(instances[0]["id"], id);
    ASSERT_EQ(env_.run_vesk({"instance", "stop", id}).status, 0);
  }
  EXPECT_EQ(jsonl(env_.record_dir() / "argv.jsonl").size(), static_cast<std::size_t>(kRounds))
      << "one browser per start, never a second";
}

}  // namespace
}  // namespace vesk::test
