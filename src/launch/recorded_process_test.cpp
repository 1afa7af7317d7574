#include "launch/recorded_process.hpp"

#include <gtest/gtest.h>

#include "base/timestamp.hpp"

namespace vesk {
namespace {

using namespace std::chrono_literals;

TEST(ParseUtcTimestamp, RoundTripsAndRejects) {
  const auto now = std::chrono::system_clock::now();
  EXPECT_EQ(parse_utc_timestamp(format_timestamp(now)), now);
  const auto whole = std::chrono::sys_days{std::chrono::year{2025} / 3 / 1} + 9h + 15min + 2s;
  EXPECT_EQ(parse_utc_timestamp("2025-03-01T09:15:02Z"), whole);
  EXPECT_EQ(parse_utc_timestamp("2025-03-01T09:15:02.1234567Z"), whole + 123456700ns);
  for (const char* bad : {"", "2025-03-01", "2025-03-01T09:15:02", "2025-02-30T00:00:00Z",
                          "2025-03-01T24:00:00Z", "2025-03-01T09:15:02.Z", "2025-03-01T09:15:02.1234567890Z",
                          "2025-03-01 09:15:02Z", "2025-03-01T09:15:0xZ"}) {
    EXPECT_FALSE(parse_utc_timestamp(bad).has_value()) << bad;
  }
}

// A running process of a known program (the build's idle_program, beside this test
// binary, found by its bare name), killed at the end.
class RunningProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    started_ = std::chrono::system_clock::now();
    auto pid = spawn_detached("idle_program", {});
    ASSERT_TRUE(pid.has_value()) << pid.error().text();
    pid_ = *pid;
    executable_ = resolve_executable("idle_program");
    ASSERT_TRUE(executable_.has_value());
    auto self = current_executable_path();
    ASSERT_TRUE(self.has_value());
    other_program_ = *self;
  }
  void TearDown() override { (void)kill_process_tree(pid_); }

  Pid pid_ = 0;
  std::chrono::system_clock::time_point started_;
  std::optional<std::filesystem::path> executable_;
  std::filesystem::path other_program_;  // this test binary
};

TEST_F(RunningProgram, RecognisedByTimeStampOrExecutable) {
  const std::string recorded_now = format_timestamp(started_);
  const std::string long_ago = "2001-01-01T00:00:00Z";  // the pid was reused since
  const std::filesystem::path& other_program = other_program_;
  struct Case {
    const char* what;
    RecordedProcess recorded;
    bool expected;
  };
  const Case cases[] = {
      {"recorded when it started", {pid_, recorded_now, std::nullopt}, true},
      {"recorded long before it started", {pid_, long_ago, std::nullopt}, false},
      {"reused pid but the recorded executable", {pid_, long_ago, executable_}, true},
      {"reused pid by another program", {pid_, long_ago, other_program}, false},
      {"no usable time stamp, same executable", {pid_, "garbage", executable_}, true},
      {"no usable time stamp, other program", {pid_, "garbage", other_program}, false},
      {"no usable time stamp, nothing to compare", {pid_, "", std::nullopt}, false},
      {"our own pid", {current_pid(), recorded_now, std::nullopt}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_recorded_process(c.recorded), c.expected) << c.what;
}

TEST_F(RunningProgram, GoneProcessIsNotRecognised) {
  ASSERT_TRUE(kill_process_tree(pid_).has_value());
  EXPECT_FALSE(is_recorded_process({pid_, format_timestamp(started_), executable_}));
}

}  // namespace
}  // namespace vesk
