// Starting and stopping a real Chromium.
#include "browser/chromium/chromium_process.hpp"

#include <signal.h>

#include <gtest/gtest.h>

#include "browser/test_support.hpp"

namespace vesk::browser {
namespace {

using namespace std::chrono_literals;

bool group_alive(pid_t group) { return ::kill(-group, 0) == 0; }

bool wait_until_gone(pid_t group) {
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (group_alive(group) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
  return !group_alive(group);
}

// A profile path long enough that a temp folder inside it would push Chromium's
// singleton socket past the Unix socket path limit.
TEST(ChromiumProcess, StartsOnADeepProfileAndDiesWithItsOwner) {
  if (!find_chromium_binary()) GTEST_SKIP() << "no Chromium installed";
  testing::TempDir dir;
  ChromiumLaunch launch;
  launch.binary = *find_chromium_binary();
  launch.user_data_dir = dir.path() / std::string(60, 'p') / std::string(60, 'q') / "profile";
  launch.log_path = dir.path() / "chromium.log";
  pid_t group = 0;
  {
    auto running = RunningBrowser::start(launch, 60s);
    ASSERT_TRUE(running.has_value()) << running.error().text() << "\n" << testing::read_file(launch.log_path);
    group = (*running)->pid();
    EXPECT_TRUE((*running)->responsive(30s));
    auto title = (*running)->serve("page.title", Json::object());
    ASSERT_TRUE(title.has_value()) << title.error().message;
  }
  EXPECT_TRUE(wait_until_gone(group)) << "Chromium outlived its RunningBrowser";
}

TEST(ChromiumProcess, ExitOfChromiumFailsTheNextRequestAsBrowserError) {
  testing::TempDir dir;
  auto running = testing::start_test_browser(dir);
  VESK_REQUIRE_BROWSER(running);
  ::kill(-running->pid(), SIGKILL);
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!running->closed() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
  auto after = running->serve("page.title", Json::object());
  ASSERT_FALSE(after.has_value());
  EXPECT_EQ(after.error().code, "browserError");
}

TEST(ChromiumBinary, EnvironmentChoosesTheBinary) {
  testing::TempDir dir;
  auto env = [&](const char* value) {
    return [value, &dir](const char* name) -> std::optional<std::string> {
      if (std::string(name) == "VESK_CHROMIUM" && value != nullptr) return std::string(value);
      if (std::string(name) == "PATH") return dir.path().string();
      return std::nullopt;
    };
  };
  EXPECT_EQ(find_chromium_binary(env("/bin/sh")), std::filesystem::path("/bin/sh"));
  auto missing = find_chromium_binary(env("/no/such/chromium"));
  ASSERT_FALSE(missing.has_value());
  EXPECT_NE(missing.error().text().find("VESK_CHROMIUM"), std::string::npos);
  EXPECT_FALSE(find_chromium_binary(env("not-on-path")).has_value());
}

}  // namespace
}  // namespace vesk::browser
