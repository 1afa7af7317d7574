#pragma once
// A real browser for end-to-end tests: a temporary HOME (TestEnv), one `vesk instance start`
// of the veskbrowser built beside vesk, which runs the installed Chromium, and a loopback HTTP
// server over tests/fixtures. Commands go through the `vesk` executable, one process each,
// exactly as a user runs them. At the end every process that carries the session's HOME
// (server, veskbrowser, Chromium and its helpers) is killed.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "harness.hpp"
#include "http_server.hpp"

namespace vesk::test {

inline constexpr std::chrono::milliseconds kBrowserWait{60000};

// The Chromium veskbrowser would run, or nullopt when none is installed.
std::optional<std::filesystem::path> installed_chromium();

// tests/fixtures in the source tree, and a file:// URL of one of its files.
std::filesystem::path fixtures_dir();
std::string fixture_file_url(const std::string& name);

class BrowserSession {
 public:
  BrowserSession();
  ~BrowserSession();
  BrowserSession(const BrowserSession&) = delete;
  BrowserSession& operator=(const BrowserSession&) = delete;

  // Starts the instance and waits until a browser command answers. On failure, says why
  // (with veskbrowser's log) and returns false.
  bool start(std::string& why);

  RunResult vesk(const std::vector<std::string>& args, std::chrono::milliseconds wait = kBrowserWait);

  [[nodiscard]] TestEnv& env() { return env_; }
  [[nodiscard]] FixtureHttpServer& http() { return http_; }
  // The first instance record of the state file: its id and the veskbrowser pid.
  [[nodiscard]] std::string instance_id() const;
  [[nodiscard]] std::optional<pid_t> veskbrowser_pid() const;
  // Chromium's main process: the child of veskbrowser that runs the Chromium binary.
  [[nodiscard]] std::optional<pid_t> chromium_pid() const;
  // The tail of veskbrowser's log, for failure messages.
  [[nodiscard]] std::string veskbrowser_log_tail(std::size_t lines = 30) const;

 private:
  TestEnv env_;
  FixtureHttpServer http_;
};

// "exit N" with the output and the error lines (the INFO log lines left out), for messages.
std::string describe(const RunResult& result);
// The lines of `text` that contain `needle`.
std::vector<std::string> lines_with(const std::string& text, const std::string& needle);
// Whether a process exists and is not a zombie.
bool process_running(pid_t pid);

}  // namespace vesk::test
