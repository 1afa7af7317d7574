// veskbrowser: runs Chromium and serves the vesk server's requests with it.
//
// Started by `vesk instance start` with null standard streams, so everything it has to
// say goes to "veskbrowser.log" in the user data directory (Chromium's own output to
// "chromium.log" beside it). It never leaves Chromium running: on SIGTERM, SIGINT or
// SIGHUP, on losing the server, and on every exit path the process group is killed.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/log.hpp"
#include "browser/link/broker_link.hpp"
#include "browser/options.hpp"
#include "browser/running_browser.hpp"

namespace {

using namespace vesk;
using namespace vesk::browser;

std::atomic<pid_t> chromium_group{0};

// Blocks the stop signals in every thread and handles them on one of its own: Chromium's
// process group is killed before we exit, whatever we were doing.
void start_signal_thread() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals] {
    int received = 0;
    sigwait(&signals, &received);
    log_info("received signal " + std::to_string(received) + "; stopping Chromium");
    kill_process_group_now(chromium_group.load());
    ::_exit(0);
  }).detach();
}

// Our standard error becomes the log file, so every log line lands there. A log grown past
// 1 MiB is moved aside (one old copy is kept), so restarts never fill the disk.
void log_to_file(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) > 1024 * 1024 && !ec) {
    std::filesystem::rename(path, path.string() + ".1", ec);
  }
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  ::dup2(fd, STDERR_FILENO);
  ::close(fd);
}

int run(const BrowserOptions& options) {
  std::error_code ec;
  std::filesystem::create_directories(options.user_data_dir, ec);
  if (ec) {
    log_info("failed to create " + options.user_data_dir.string() + ": " + ec.message());
    return 1;
  }
  log_to_file(options.user_data_dir / "veskbrowser.log");
  log_info("veskbrowser starting for instance " + options.instance_id + " (profile " +
           options.profile_id + ", " + (options.headless ? "headless" : "headed") + "), server " +
           options.host + ":" + std::to_string(options.port));

  auto binary = find_chromium_binary();
  if (!binary) {
    log_info(binary.error().text());
    return 1;
  }
  if (!options.headless && !process_env("DISPLAY") && !process_env("WAYLAND_DISPLAY")) {
    log_info("headed mode needs a display, but neither DISPLAY nor WAYLAND_DISPLAY is set; "
             "start the instance headless or from a desktop session");
    return 1;
  }
  ChromiumLaunch launch;
  launch.binary = *binary;
  launch.user_data_dir = options.user_data_dir;
  launch.headless = options.headless;
  launch.log_path = options.user_data_dir / "chromium.log";
  auto running = RunningBrowser::start(launch, std::chrono::seconds(30));
  if (!running) {
    log_info(running.error().text());
    return 1;
  }
  chromium_group = (*running)->pid();
  (*running)->set_profiles(profile_place(options.user_data_dir, options.profile_id, options.instance_id));
  (*running)->on_new_chromium([](pid_t pid) {
    chromium_group = pid;
    log_info("Chromium restarted on another profile with pid " + std::to_string(pid));
  });
  log_info("Chromium " + binary->string() + " started with pid " + std::to_string((*running)->pid()));

  BrokerLinkOptions link;
  link.host = options.host;
  link.port = options.port;
  link.token = options.token;
  link.instance_id = options.instance_id;
  // Started by vesk, the profile lives in <data dir>/browser-profiles/<profile>, beside
  // the state file that names the current server.
  if (options.user_data_dir.parent_path().filename() == "browser-profiles") {
    link.state_path = options.user_data_dir.parent_path().parent_path() / "state.json";
  }
  std::atomic<bool> stop{false};
  LinkEnd end = run_broker_link(link, **running, stop);
  log_info("veskbrowser exiting: " + std::string(link_end_text(end)));
  running->reset();  // kills Chromium's process group
  chromium_group = 0;
  return end == LinkEnd::ChromiumGone || end == LinkEnd::Stopped ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  auto options = parse_browser_options(args);
  if (!options) {
    write_stderr("veskbrowser: " + options.error().text() + "\n");
    return 2;
  }
  start_signal_thread();
  return run(*options);
}
