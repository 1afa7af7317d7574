// The vesk program as a process: exit statuses, which stream gets the usage, the error
// report when no data directory can be found, and the INFO line that opens every run.

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

#include "platform/files.hpp"
#include "platform/process.hpp"
#include "support/harness.hpp"

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

// A temporary directory with a HOME inside, and a runner for vesk with exactly the
// environment the test gives it.
class VeskProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    auto root = vesk::create_temporary_directory("vesk-entry-");
    ASSERT_TRUE(root) << root.error().text();
    root_ = *root;
    fs::create_directories(home());
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path home() const { return root_ / "home"; }

  // Runs vesk to completion with `env` as its whole environment; a run that outlives a
  // generous deadline is killed by pid and reported with status -1.
  Finished run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
    const fs::path program = vesk::test::TestEnv::vesk_binary();
    std::vector<std::string> env_text;
    for (const auto& [name, value] : env) env_text.push_back(name + "=" + value);
    auto started = vesk::AttachedProcess::start(program, args, env_text);
    Finished finished;
    if (!started) {
      ADD_FAILURE() << started.error().text();
      return finished;
    }
    std::vector<std::string> argv{program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    vesk::test::ChildProcess child(argv, std::move(*started));
    if (auto status = child.wait_exit(std::chrono::seconds(60))) {
      finished.status = *status;
      child.wait_for_output_end();
    } else {
      ADD_FAILURE() << "vesk did not finish in time";
      child.kill();
    }
    finished.out = child.out();
    finished.err = child.err();
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
      "INFO using data dir " + data_dir + " and store " + (home() / ".veskapp" / "state.json").string();
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
