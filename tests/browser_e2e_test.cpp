// End to end: real `vesk` commands, a real server, veskbrowser and Chromium, on the
// fixture form. Skipped when no Chromium is installed.
#include <signal.h>

#include <fstream>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "support/harness.hpp"

namespace vesk::test {
namespace {

using namespace std::chrono_literals;

bool chromium_installed() {
  if (const char* chosen = std::getenv("VESK_CHROMIUM")) return fs::exists(chosen);
  return fs::exists("/usr/lib/chromium/chromium") || fs::exists("/usr/bin/chromium");
}

fs::path fixture(const std::string& name) {
  const char* source = std::getenv("VESK_SOURCE_DIR");
  return fs::path(source != nullptr ? source : ".") / "tests" / "fixtures" / name;
}

// Every process whose command line mentions the test's directory: what must be gone at the end.
std::vector<pid_t> processes_under(const fs::path& root) {
  std::vector<pid_t> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string cmdline = read_file(entry.path() / "cmdline");
    if (cmdline.find(root.string()) != std::string::npos) found.push_back(std::stoi(name));
  }
  return found;
}

class BrowserEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!chromium_installed()) GTEST_SKIP() << "no Chromium installed";
    ASSERT_TRUE(env_.start_server().has_value());
    RunResult started = env_.run_vesk({"instance", "start"}, 60s);
    ASSERT_EQ(started.status, 0) << started.err;
  }
  void TearDown() override {
    if (::testing::Test::IsSkipped()) return;
    Json state = env_.read_state();
    for (const auto& instance : state.value("instances", Json::array())) {
      env_.run_vesk({"instance", "stop", instance.value("id", "")});
    }
    // Everything that ran on this test's profile is gone once its instance is stopped.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    auto left = processes_under(env_.root());
    while (!left.empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(50ms);
      left = processes_under(env_.root());
    }
    std::erase_if(left, [&](pid_t pid) { return pid == ::getpid(); });
    EXPECT_TRUE(left.empty()) << left.size() << " processes outlived the instance";
    for (pid_t pid : left) ::kill(pid, SIGKILL);
  }

  RunResult vesk(const std::vector<std::string>& args) { return env_.run_vesk(args, 60s); }
  // The ref of the listing line "eN:role "name"".
  static std::string ref_in(const std::string& listing, const std::string& role, const std::string& name) {
    std::smatch match;
    std::regex line("(e[0-9]+):" + role + " \"" + name + "\"");
    return std::regex_search(listing, match, line) ? match[1].str() : "";
  }

  TestEnv env_;
};

TEST_F(BrowserEndToEnd, NavigateSnapshotFillClickAndSaveFiles) {
  const std::string page = "file://" + fixture("form.html").string();
  RunResult nav = vesk({"nav", page});
  ASSERT_EQ(nav.status, 0) << nav.err;
  EXPECT_NE(nav.out.find("Vesk fixture form"), std::string::npos);

  RunResult snap = vesk({"snap", "-i"});
  ASSERT_EQ(snap.status, 0) << snap.err;
  const std::string name = ref_in(snap.out, "textbox", "Name");
  const std::string save = ref_in(snap.out, "button", "Save");
  ASSERT_FALSE(name.empty()) << snap.out;
  ASSERT_FALSE(save.empty()) << snap.out;

  EXPECT_EQ(vesk({"fill", name, "Ada"}).status, 0);
  EXPECT_EQ(vesk({"click", save}).status, 0);
  RunResult text = vesk({"text", "#result"});
  EXPECT_NE(text.out.find("Hello, Ada!"), std::string::npos) << text.out << text.err;

  const fs::path shot = env_.root() / "out" / "form.png";
  const fs::path pdf = env_.root() / "out" / "form.pdf";
  EXPECT_EQ(vesk({"ss", "-o", shot.string()}).status, 0);
  EXPECT_EQ(vesk({"pdf", "-o", pdf.string()}).status, 0);
  EXPECT_TRUE(read_file(shot).starts_with("\x89PNG"));
  EXPECT_TRUE(read_file(pdf).starts_with("%PDF"));

  const fs::path upload = env_.root() / "notes.txt";
  { std::ofstream(upload) << "twelve bytes"; }
  EXPECT_EQ(vesk({"upload", "#upload", upload.string()}).status, 0);
  EXPECT_NE(vesk({"text", "#result"}).out.find("notes.txt:12"), std::string::npos);
}

TEST_F(BrowserEndToEnd, ErrorsDialogsAndARestartAfterChromiumDies) {
  const std::string page = "file://" + fixture("form.html").string();
  ASSERT_EQ(vesk({"nav", page}).status, 0);
  struct Case {
    std::vector<std::string> args;
    std::string code;
  };
  const Case cases[] = {
      {{"click", "#does-not-exist"}, "elementNotFound"},
      {{"click", "e999"}, "elementNotFound"},  // no snapshot gave it: not stale, unknown
      {{"nav", "file://" + fixture("missing.html").string()}, "navigationFailed"},
      {{"eval", "throw new Error('boom')"}, "evaluationFailed"},
      {{"quick"}, "unsupportedMethod"},
  };
  for (const auto& c : cases) {
    RunResult failed = vesk(c.args);
    EXPECT_EQ(failed.status, 1) << c.args[0];
    EXPECT_NE(failed.err.find(c.code + ":"), std::string::npos) << failed.err;
  }
  ASSERT_EQ(vesk({"nav", page}).status, 0);

  RunResult alerted = vesk({"click", "#alert-button"});
  ASSERT_EQ(alerted.status, 0) << alerted.err;
  EXPECT_NE(alerted.out.find("Careful!"), std::string::npos);
  EXPECT_EQ(vesk({"dialog", "accept"}).status, 0);
  RunResult confirmed = vesk({"click", "--dialog-action", "accept", "#confirm-button"});
  ASSERT_EQ(confirmed.status, 0) << confirmed.err;
  EXPECT_NE(vesk({"text", "#result"}).out.find("confirmed"), std::string::npos);

  // Chromium dies under the running instance: the next command restarts it and succeeds.
  std::string log = read_file(env_.data_dir() / "browser-profiles" / "default" / "veskbrowser.log");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(log, match, std::regex("started with pid ([0-9]+)"))) << log;
  ::kill(-std::stoi(match[1].str()), SIGKILL);
  RunResult after = vesk({"title"});
  EXPECT_EQ(after.status, 0) << after.err;
}

}  // namespace
}  // namespace vesk::test
