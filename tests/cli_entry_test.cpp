// The vesk program as a process: exit statuses, which stream gets the usage, the error
// report when no data directory can be found, and the INFO line that opens every run.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

struct Finished {
  int status = -1;  // -1 when it had to be killed at the deadline
  std::string out;
  std::string err;
};

std::string file_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A temporary directory with a HOME inside, and a runner for vesk with exactly the
// environment the test gives it.
class VeskProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vesk-entry-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directories(home());
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path home() const { return root_ / "home"; }

  static fs::path vesk_binary() {
    const char* dir = std::getenv("VESK_BINARY_DIR");
    return fs::path(dir != nullptr ? dir : ".") / "vesk";
  }

  // Runs vesk to completion with `env` as its whole environment; a run that outlives a
  // generous deadline is killed by pid and reported with status -1.
  Finished run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
    const fs::path out_path = root_ / "stdout";
    const fs::path err_path = root_ / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<std::string> argv_text{vesk_binary().string()};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<std::string> env_text;
    for (const auto& [name, value] : env) env_text.push_back(name + "=" + value);
    std::vector<char*> argv;
    for (auto& word : argv_text) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : env_text) envp.push_back(entry.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    Finished finished;
    if (spawned != 0) {
      ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(spawned);
      return finished;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int wait_status = 0;
    while (waitpid(pid, &wait_status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &wait_status, 0);
        ADD_FAILURE() << "vesk did not finish in time";
        wait_status = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (wait_status != -1 && WIFEXITED(wait_status)) finished.status = WEXITSTATUS(wait_status);
    finished.out = file_text(out_path);
    finished.err = file_text(err_path);
    return finished;
  }

  std::map<std::string, std::string> env_with_home() const {
    return {{"HOME", home().string()}, {"PATH", "/usr/bin:/bin"}};
  }

  fs::path root_;
};

TEST_F(VeskProcess, WithoutArgumentsPrintsUsageOnStandardErrorAndExits2) {
  const Finished finished = run({}, env_with_home());
  EXPECT_EQ(finished.status, 2);
  EXPECT_THAT(finished.err, HasSubstr("Usage: vesk"));
  EXPECT_THAT(finished.err, Not(HasSubstr("vesk INFO")));
  EXPECT_THAT(finished.out, IsEmpty());
}

TEST_F(VeskProcess, HelpGoesToStandardOutputWithStatus0) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, {"help", "nav"},
                                              {"nav", "--help"}, {"profile", "create", "-h"}}) {
    const Finished finished = run(args, env_with_home());
    EXPECT_EQ(finished.status, 0) << args.front();
    EXPECT_THAT(finished.out, HasSubstr("Usage: vesk")) << args.front();
    EXPECT_THAT(finished.err, IsEmpty()) << args.front();
  }
}

TEST_F(VeskProcess, UnknownWordExits2AndSuggestsTheClosestCommand) {
  const Finished finished = run({"stauts"}, env_with_home());
  EXPECT_EQ(finished.status, 2);
  EXPECT_THAT(finished.err, HasSubstr("'stauts'"));
  EXPECT_THAT(finished.err, HasSubstr("'status'"));
  EXPECT_THAT(finished.out, IsEmpty());
}

TEST_F(VeskProcess, UsageErrorsComeBeforeTheDataPathsAreLookedAt) {
  const Finished finished = run({"server", "--port", "65536"}, {{"PATH", "/usr/bin:/bin"}});
  EXPECT_EQ(finished.status, 2);
  EXPECT_THAT(finished.err, HasSubstr("65536"));
  EXPECT_THAT(finished.err, Not(HasSubstr("cannot resolve home directory")));
}

TEST_F(VeskProcess, WithoutAnyHomeVariableFailsWithOneLineAndNoLog) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"status"}, {"-v", "title"}}) {
    const Finished finished = run(args, {{"PATH", "/usr/bin:/bin"}});
    EXPECT_EQ(finished.status, 1) << args.back();
    EXPECT_EQ(finished.err, "cannot resolve home directory\n") << args.back();
    EXPECT_THAT(finished.out, IsEmpty()) << args.back();
  }
}

TEST_F(VeskProcess, EveryCommandPastParsingFirstLogsItsDataPaths) {
  const std::regex info_line(
      R"(^\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z\] vesk INFO using data dir .* and store .*$)");
  const std::string data_dir = (home() / ".veskapp").string();
  const std::string expected_tail =
      "INFO using data dir " + data_dir + " and store " + data_dir + "/state.json";
  for (const std::vector<std::string>& args : {std::vector<std::string>{"status"}, {"-v", "health"}}) {
    const Finished finished = run(args, env_with_home());
    const std::string first_line = finished.err.substr(0, finished.err.find('\n'));
    EXPECT_TRUE(std::regex_match(first_line, info_line)) << first_line;
    EXPECT_THAT(first_line, ::testing::EndsWith(expected_tail));
  }
}

TEST_F(VeskProcess, LocalAppDataWinsOverHome) {
  const fs::path local = root_ / "local";
  auto env = env_with_home();
  env["LOCALAPPDATA"] = local.string();
  const Finished finished = run({"status"}, env);
  const std::string first_line = finished.err.substr(0, finished.err.find('\n'));
  EXPECT_THAT(first_line, ::testing::EndsWith("using data dir " + (local / "VeskApp").string() + " and store " +
                                              (local / "VeskApp" / "state.json").string()));
}

}  // namespace
