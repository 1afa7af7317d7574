#include "browser_session.hpp"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "process_sweep.hpp"

namespace vesk::test {

namespace fs = std::filesystem;

namespace {

bool is_executable(const fs::path& path) { return ::access(path.c_str(), X_OK) == 0 && fs::is_regular_file(path); }

std::optional<fs::path> on_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return std::nullopt;
  std::stringstream dirs(path);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (!dir.empty() && is_executable(fs::path(dir) / name)) return fs::path(dir) / name;
  }
  return std::nullopt;
}

// Field 3 (state) and 4 (parent pid) of /proc/PID/stat; the name in field 2 may hold spaces.
std::optional<std::pair<char, pid_t>> state_and_parent(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream rest(stat.substr(close + 1));
  char state = '?';
  pid_t parent = 0;
  if (!(rest >> state >> parent)) return std::nullopt;
  return std::pair{state, parent};
}

std::string last_lines(const std::string& text, std::size_t count) {
  std::size_t start = text.size();
  for (std::size_t seen = 0; start > 0 && seen <= count;) {
    --start;
    if (text[start] == '\n') ++seen;
  }
  return text.substr(start);
}

}  // namespace

std::optional<fs::path> installed_chromium() {
  if (const char* chosen = std::getenv("VESK_CHROMIUM"); chosen && *chosen) {
    if (is_executable(chosen)) return fs::path(chosen);
    return on_path(chosen);
  }
  if (is_executable("/usr/lib/chromium/chromium")) return fs::path("/usr/lib/chromium/chromium");
  for (const char* name : {"chromium", "chromium-browser", "google-chrome"}) {
    if (auto found = on_path(name)) return found;
  }
  return std::nullopt;
}

fs::path fixtures_dir() {
  if (const char* source = std::getenv("VESK_SOURCE_DIR"); source && *source) {
    return fs::path(source) / "tests" / "fixtures";
  }
  return fs::path(__FILE__).parent_path().parent_path() / "fixtures";
}

std::string fixture_file_url(const std::string& name) { return "file://" + (fixtures_dir() / name).string(); }

BrowserSession::BrowserSession() : http_(fixtures_dir()) {}

BrowserSession::~BrowserSession() {
  (void)env_.run_vesk({"server", "stop"});
  kill_processes_with_home(env_.home());
}

bool BrowserSession::start(std::string& why) {
  if (!http_.ok()) {
    why = "the fixture HTTP server did not start: " + http_.error();
    return false;
  }
  RunResult started = env_.run_vesk({"instance", "start", "--headless"}, kBrowserWait);
  if (started.status != 0) {
    why = "vesk instance start failed: " + describe(started);
    return false;
  }
  // Wait for veskbrowser to say that it connected before sending anything: a request that
  // finds no browser yet makes vesk replace the instance, which costs a second Chromium.
  const auto log = env_.data_dir() / "browser-profiles" / "default" / "veskbrowser.log";
  const std::string connected = "as instance " + instance_id();
  eventually(
      [&] {
        const std::string text = read_file(log);
        return text.find(connected) != std::string::npos || text.find("did not come up") != std::string::npos;
      },
      kBrowserWait / 2);
  if (read_file(log).find("did not come up") != std::string::npos) {
    why = "veskbrowser could not start Chromium:\n" + veskbrowser_log_tail();
    return false;
  }
  RunResult answered;
  const bool ready = eventually(
      [&] {
        answered = env_.run_vesk({"tab", "list"}, kBrowserWait);
        return answered.status == 0;
      },
      kBrowserWait);
  if (!ready) {
    why = "the instance never answered `vesk tab list`: " + describe(answered) + "\nveskbrowser log:\n" +
          veskbrowser_log_tail();
    return false;
  }
  return true;
}

RunResult BrowserSession::vesk(const std::vector<std::string>& args, std::chrono::milliseconds wait) {
  return env_.run_vesk(args, wait);
}

std::string BrowserSession::instance_id() const {
  const Json state = env_.read_state();
  if (!state.is_object() || !state.contains("instances") || !state["instances"].is_array() ||
      state["instances"].empty()) {
    return {};
  }
  return state["instances"][0].value("id", "");
}

std::optional<pid_t> BrowserSession::veskbrowser_pid() const {
  const Json state = env_.read_state();
  if (!state.is_object() || !state.contains("instances") || !state["instances"].is_array() ||
      state["instances"].empty() || !state["instances"][0].contains("pid") ||
      !state["instances"][0]["pid"].is_number_integer()) {
    return std::nullopt;
  }
  return static_cast<pid_t>(state["instances"][0]["pid"].get<long long>());
}

std::optional<pid_t> BrowserSession::chromium_pid() const {
  const auto parent = veskbrowser_pid();
  if (!parent) return std::nullopt;
  // Chromium rewrites its own environment block, so it is found by its parent, not by HOME.
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const auto name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    auto status = state_and_parent(pid);
    if (!status || status->second != *parent) continue;
    const auto command = process_command_line(static_cast<Pid>(pid)).value_or(std::vector<std::string>{});
    if (!command.empty() && command[0].find("chrom") != std::string::npos) return pid;
  }
  return std::nullopt;
}

std::string BrowserSession::veskbrowser_log_tail(std::size_t lines) const {
  std::string tails;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(env_.data_dir() / "browser-profiles", ec)) {
    for (const char* name : {"veskbrowser.log", "chromium.log"}) {
      const auto file = entry.path() / name;
      if (fs::exists(file)) tails += "---- " + file.string() + "\n" + last_lines(read_file(file), lines);
    }
  }
  return tails;
}

std::string describe(const RunResult& result) {
  std::string text = "exit " + std::to_string(result.status) + "\nstdout: " + result.out + "\nstderr: ";
  std::istringstream lines(result.err);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.find(" INFO ") == std::string::npos) text += line + "\n";
  }
  return text;
}

std::vector<std::string> lines_with(const std::string& text, const std::string& needle) {
  std::vector<std::string> found;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.find(needle) != std::string::npos) found.push_back(line);
  }
  return found;
}

bool process_running(pid_t pid) {
  if (::kill(pid, 0) != 0) return false;
  auto status = state_and_parent(pid);
  return status && status->first != 'Z' && status->first != 'X';
}

}  // namespace vesk::test
