#include "harness.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include <gtest/gtest.h>

extern char** environ;

namespace vesk::test {

namespace {

using Clock = std::chrono::steady_clock;

// Variables that would point the child at the developer's own data directory.
bool inherited_env_allowed(std::string_view entry) {
  for (std::string_view name : {"HOME=", "LOCALAPPDATA=", "USERPROFILE=", "VESK_SESSION="}) {
    if (entry.starts_with(name)) return false;
  }
  return true;
}

}  // namespace

std::size_t count_of(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

ChildProcess::ChildProcess(std::vector<std::string> argv, pid_t pid, int out_fd, int err_fd)
    : argv_(std::move(argv)), pid_(pid) {
  out_reader_ = std::thread([this, out_fd] { read_stream(out_fd, out_); });
  err_reader_ = std::thread([this, err_fd] { read_stream(err_fd, err_); });
}

ChildProcess::~ChildProcess() {
  kill();
  {
    std::lock_guard guard(mutex_);
    stop_reading_ = true;  // a grandchild may still hold the pipe open
  }
  out_reader_.join();
  err_reader_.join();
}

void ChildProcess::read_stream(int fd, std::string& into) {
  char block[8192];
  for (;;) {
    {
      std::lock_guard guard(mutex_);
      if (stop_reading_) break;
    }
    pollfd poller{fd, POLLIN, 0};
    int ready = ::poll(&poller, 1, 100);
    if (ready <= 0) continue;
    ssize_t got = ::read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    {
      std::lock_guard guard(mutex_);
      into.append(block, static_cast<size_t>(got));
    }
    changed_.notify_all();
  }
  ::close(fd);
  {
    std::lock_guard guard(mutex_);
    --open_streams_;
  }
  changed_.notify_all();
}

std::string ChildProcess::out() const {
  std::lock_guard guard(mutex_);
  return out_;
}

std::string ChildProcess::err() const {
  std::lock_guard guard(mutex_);
  return err_;
}

namespace {
std::size_t occurrences(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++count;
  return count;
}
}  // namespace

bool ChildProcess::wait_for(const std::string& needle, std::size_t count, const std::string& stream,
                            milliseconds wait) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, wait, [&] { return occurrences(stream, needle) >= count; });
}

bool ChildProcess::wait_for_out(const std::string& needle, milliseconds wait) const {
  return wait_for(needle, 1, out_, wait);
}

bool ChildProcess::wait_for_err(const std::string& needle, milliseconds wait) const {
  return wait_for(needle, 1, err_, wait);
}

bool ChildProcess::wait_for_err_count(const std::string& needle, std::size_t count, milliseconds wait) const {
  return wait_for(needle, count, err_, wait);
}

bool ChildProcess::wait_for_output_end(milliseconds wait) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, wait, [&] { return open_streams_ == 0; });
}

std::optional<int> ChildProcess::wait_exit(milliseconds wait) {
  const auto deadline = Clock::now() + wait;
  while (!exit_status_) {
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (done < 0 && errno != EINTR) break;
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return exit_status_;
}

void ChildProcess::kill() {
  if (exit_status_) return;
  ::kill(-pid_, SIGKILL);  // its own process group: what it started without a new session
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

fs::path TestEnv::binary_dir() {
  if (const char* dir = std::getenv("VESK_BINARY_DIR"); dir && *dir) return dir;
  // Run by hand from build/tests: the build directory is one up.
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path() : self.parent_path().parent_path();
}

TestEnv::TestEnv() {
  std::string pattern = (fs::temp_directory_path() / "vesk-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a temporary directory: " << std::strerror(errno);
  }
  root_ = pattern;
  fs::create_directories(home());
  fs::create_directories(record_dir());
  env_["HOME"] = home().string();
  env_["FAKE_BROWSER_RECORD_DIR"] = record_dir().string();
}

TestEnv::~TestEnv() {
  if (::testing::Test::HasFailure()) {
    for (const auto& child : children_) {
      std::string command;
      for (const auto& arg : child->argv()) command += arg + " ";
      std::cerr << "---- standard error of " << command << "(pid " << child->pid() << ")\n"
                << child->err() << "---- standard output\n" << child->out() << "----\n";
    }
  }
  stop_recorded_processes();
  children_.clear();  // kills and reaps every started process
  std::error_code ec;
  fs::remove_all(root_, ec);
}

void TestEnv::set_env(const std::string& name, const std::string& value) { env_[name] = value; }

ChildProcess& TestEnv::start(const fs::path& program, const std::vector<std::string>& args) {
  std::vector<std::string> argv{program.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    std::string_view text(*entry);
    std::string name(text.substr(0, text.find('=')));
    if (inherited_env_allowed(text) && !env_.contains(name)) env.emplace_back(text);
  }
  for (const auto& [name, value] : env_) env.push_back(name + "=" + value);

  std::vector<char*> argv_ptrs, env_ptrs;
  for (auto& a : argv) argv_ptrs.push_back(a.data());
  argv_ptrs.push_back(nullptr);
  for (auto& e : env) env_ptrs.push_back(e.data());
  env_ptrs.push_back(nullptr);

  int out_pipe[2], err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  int spawned = ::posix_spawn(&pid, argv[0].c_str(), &actions, &attributes, argv_ptrs.data(), env_ptrs.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(spawned);
    // A stand-in that has "exited" so callers need no special case.
    pid = ::fork();
    if (pid == 0) ::_exit(127);
  }
  children_.push_back(std::make_unique<ChildProcess>(argv, pid, out_pipe[0], err_pipe[0]));
  return *children_.back();
}

RunResult TestEnv::run_vesk(const std::vector<std::string>& args, milliseconds wait) {
  ChildProcess& child = start_vesk(args);
  RunResult result;
  if (auto status = child.wait_exit(wait)) {
    result.status = *status;
    child.wait_for_output_end(wait);
  } else {
    ADD_FAILURE() << "vesk did not finish within the deadline";
    child.kill();
  }
  result.out = child.out();
  result.err = child.err();
  return result;
}

std::optional<ServerHandle> TestEnv::start_server(const std::vector<std::string>& args) {
  std::vector<std::string> full{"server"};
  full.insert(full.end(), args.begin(), args.end());
  ChildProcess& server = start_vesk(full);
  const std::string ready = "vesk server ready on ";
  if (!server.wait_for_out("\n", kGenerousWait)) {
    ADD_FAILURE() << "the server printed no ready line; its log:\n" << server.err();
    return std::nullopt;
  }
  std::string out = server.out();
  std::string line = out.substr(0, out.find('\n'));
  auto colon = line.rfind(':');
  if (!line.starts_with(ready) || colon == std::string::npos) {
    ADD_FAILURE() << "unexpected first line from the server: " << line;
    return std::nullopt;
  }
  ServerHandle handle{&server, line.substr(ready.size(), colon - ready.size()), 0};
  handle.port = static_cast<std::uint16_t>(std::stoul(line.substr(colon + 1)));
  return handle;
}

Json TestEnv::read_state() const {
  std::string text = read_file(state_path());
  if (text.empty()) return nullptr;
  Json state = Json::parse(text, nullptr, false);
  return state.is_discarded() ? Json(nullptr) : state;
}

void TestEnv::write_state(const Json& state) const {
  fs::create_directories(data_dir());
  std::ofstream(state_path(), std::ios::binary | std::ios::trunc) << state.dump(2);
}

std::vector<std::string> TestEnv::recorded_requests() const {
  std::vector<std::string> lines;
  std::istringstream in(read_file(record_dir() / "requests.jsonl"));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// Processes started by vesk itself (a background server, browser instances) are known
// only through the state file. They are killed when they run one of this build's
// programs, so a reused pid never takes an unrelated process with it.
void TestEnv::stop_recorded_processes() const {
  Json state = read_state();
  if (!state.is_object()) return;
  std::vector<pid_t> pids;
  if (state.contains("server") && state["server"].is_object()) {
    pids.push_back(state["server"].value("pid", 0));
  }
  if (state.contains("instances") && state["instances"].is_array()) {
    for (const Json& instance : state["instances"]) {
      if (instance.is_object() && instance.contains("pid") && instance["pid"].is_number_unsigned()) {
        pids.push_back(instance["pid"].get<pid_t>());
      }
    }
  }
  const std::string ours = fs::weakly_canonical(binary_dir()).string();
  for (pid_t pid : pids) {
    if (pid <= 1 || pid == ::getpid()) continue;
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    if (ec || !exe.string().starts_with(ours)) continue;
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
  }
}

}  // namespace vesk::test
