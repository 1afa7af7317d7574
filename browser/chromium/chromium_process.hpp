#pragma once
// Starting and stopping the Chromium that veskbrowser drives. Chromium runs in a process
// group of its own, so one SIGKILL to the group takes down its whole tree; it talks the
// DevTools protocol on fds 3 (commands in) and 4 (replies out). Our ends of those pipes
// are close-on-exec, or Chromium would never see end-of-file when we go away.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "base/paths.hpp"
#include "platform/file_descriptor.hpp"

namespace vesk::browser {

struct ChromiumLaunch {
  std::filesystem::path binary;
  std::filesystem::path user_data_dir;
  bool headless = true;
  // Chromium's standard output and error go here (rewritten at each start); /dev/null when empty.
  std::filesystem::path log_path;
  std::vector<std::string> extra_args;
};

// The Chromium to run: $VESK_CHROMIUM when set, else /usr/lib/chromium/chromium (the real
// binary, not Debian's wrapper script), else "chromium" or "chromium-browser" on PATH.
Result<std::filesystem::path> find_chromium_binary(const EnvLookup& env = process_env);

// The full argument list (without argv[0]) Chromium is started with.
std::vector<std::string> chromium_arguments(const ChromiumLaunch& launch);

class ChromiumProcess {
 public:
  static Result<ChromiumProcess> start(const ChromiumLaunch& launch);

  ChromiumProcess(ChromiumProcess&& other) noexcept;
  ChromiumProcess& operator=(ChromiumProcess&& other) noexcept;
  ChromiumProcess(const ChromiumProcess&) = delete;
  ChromiumProcess& operator=(const ChromiumProcess&) = delete;
  // Kills the process group: Chromium never outlives its owner object.
  ~ChromiumProcess();

  [[nodiscard]] pid_t pid() const { return pid_; }
  // Our write end of Chromium's command pipe and read end of its reply pipe.
  UniqueFd take_command_pipe() { return std::move(to_browser_); }
  UniqueFd take_reply_pipe() { return std::move(from_browser_); }

  // SIGKILL to the whole process group, then reaps the browser process. Idempotent.
  void kill();
  // True once the browser process has exited (reaps it without blocking).
  bool exited();

 private:
  ChromiumProcess() = default;
  pid_t pid_ = -1;
  bool reaped_ = false;
  UniqueFd to_browser_;
  UniqueFd from_browser_;
};

// Kills a process group from a signal handler or any other context: async-signal-safe.
void kill_process_group_now(pid_t group);

}  // namespace vesk::browser
