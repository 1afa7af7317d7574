// Processes on Linux, through posix_spawn and /proc.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

#include "platform/process.hpp"
#include "platform/program_lookup.hpp"

extern char** environ;

namespace vesk {

namespace {

// Pids that can name a process of ours: 0 would address our own process group in
// kill(), 1 is init, and values past INT_MAX would turn negative and address groups.
bool is_addressable_pid(Pid pid) { return pid > 1 && pid <= static_cast<Pid>(INT_MAX); }

// The fields of /proc/<pid>/stat after the command name, starting with the state
// (field 3). The name is in parentheses and may itself contain ") ", hence the last ')'.
std::optional<std::vector<std::string>> read_stat_fields(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  if (!file) return std::nullopt;
  std::string line;
  std::getline(file, line);
  auto close = line.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream rest(line.substr(close + 1));
  std::vector<std::string> fields;
  for (std::string field; rest >> field;) fields.push_back(field);
  if (fields.size() < 20) return std::nullopt;
  return fields;
}

// How long kill_process_tree waits for a killed process to disappear; a process stuck in
// an uninterruptible wait may take longer, and is then left to finish dying on its own.
constexpr std::chrono::seconds kKillSettleTime{5};

constexpr std::size_t kStateField = 0;       // field 3
constexpr std::size_t kParentField = 1;      // field 4
constexpr std::size_t kStartTimeField = 19;  // field 22, clock ticks after boot

std::map<pid_t, std::vector<pid_t>> children_by_parent() {
  std::map<pid_t, std::vector<pid_t>> children;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const auto name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    pid_t pid = std::stoi(name);
    auto fields = read_stat_fields(pid);
    if (!fields) continue;  // exited while we looked
    children[std::stoi((*fields)[kParentField])].push_back(pid);
  }
  return children;
}

std::set<pid_t> process_tree(pid_t root) {
  auto children = children_by_parent();
  std::set<pid_t> tree{root};
  std::vector<pid_t> pending{root};
  while (!pending.empty()) {
    pid_t parent = pending.back();
    pending.pop_back();
    for (pid_t child : children[parent]) {
      if (tree.insert(child).second) pending.push_back(child);
    }
  }
  return tree;
}

// Reaps the child once it exits so that a long-lived caller (a test process, a future
// in-process launcher) does not collect zombies. A short-lived command exits long before
// its children; the thread dies with it and the child is reparented. The caller never
// waits: the thread is detached.
void reap_in_background(pid_t pid) {
  try {
    std::thread([pid] {
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the child stays a zombie until we exit. Harmless.
  }
}

// posix_spawn's attribute and file-action objects, destroyed on every path.
struct SpawnSetup {
  posix_spawnattr_t attributes{};
  posix_spawn_file_actions_t actions{};
  SpawnSetup() {
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_init(&actions);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// Own session (no controlling terminal, its own process group for the tree kill), a
// clean signal mask and default dispositions, null standard streams, and no descriptor
// of ours: a listening socket inherited by a browser would outlive the server.
int prepare_detached(SpawnSetup& setup) {
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  if (int e = posix_spawnattr_setflags(&setup.attributes,
                                       POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF))
    return e;
  if (int e = posix_spawnattr_setsigmask(&setup.attributes, &none)) return e;
  if (int e = posix_spawnattr_setsigdefault(&setup.attributes, &all)) return e;
  if (int e = posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0)) return e;
  if (int e = posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0)) return e;
  if (int e = posix_spawn_file_actions_adddup2(&setup.actions, STDOUT_FILENO, STDERR_FILENO)) return e;
  return posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);
}

}  // namespace

Result<Pid> spawn_detached(const std::string& program, const std::vector<std::string>& args) {
  std::filesystem::path executable_dir;
  if (auto self = current_executable_path()) executable_dir = self->parent_path();
  auto resolved = find_program(program, executable_dir, program_search_path());
  if (!resolved) {
    return fail(system_error(ENOENT).wrap("cannot find " + program + " in " + executable_dir.string() +
                                          " or on PATH"));
  }

  SpawnSetup setup;
  if (int e = prepare_detached(setup)) return fail(system_error(e, "cannot prepare the process start"));

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  if (int e = ::posix_spawn(&pid, resolved->c_str(), &setup.actions, &setup.attributes, argv.data(), environ)) {
    return fail(system_error(e));
  }
  reap_in_background(pid);
  return static_cast<Pid>(pid);
}

Status kill_process_tree(Pid pid) {
  if (!is_addressable_pid(pid)) return {};  // names no process we could have started
  const auto root = static_cast<pid_t>(pid);
  const pid_t self = ::getpid();

  // Stop the whole tree first so nobody forks or gets reparented between our look at
  // /proc and the kill; repeat until no new descendant shows up.
  std::set<pid_t> stopped;
  for (int round = 0; round < 16; ++round) {
    bool grew = false;
    for (pid_t member : process_tree(root)) {
      if (member == self || stopped.contains(member)) continue;
      ::kill(member, SIGSTOP);
      stopped.insert(member);
      grew = true;
    }
    if (!grew) break;
  }

  int root_error = 0;
  if (root != self && ::kill(root, SIGKILL) != 0) root_error = errno;
  // The group outlives its leader; the leader's pid is not reused while the group exists.
  if (root != ::getpgrp()) ::kill(-root, SIGKILL);
  for (pid_t member : stopped) {
    if (member != root) ::kill(member, SIGKILL);
  }
  if (root_error != 0 && root_error != ESRCH) {
    return fail(system_error(root_error, "failed to kill process " + std::to_string(pid)));
  }
  // SIGKILL is delivered asynchronously. Callers go on to reuse what the process held
  // (a server's port, a browser's profile directory), so wait until it is gone.
  const auto deadline = std::chrono::steady_clock::now() + kKillSettleTime;
  while (process_is_alive(pid) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return {};
}

bool process_is_alive(Pid pid) {
  if (!is_addressable_pid(pid)) return false;
  auto fields = read_stat_fields(static_cast<pid_t>(pid));
  if (!fields) return false;
  const auto& state = (*fields)[kStateField];
  return state != "Z" && state != "X" && state != "x";
}

std::optional<std::filesystem::path> process_image_path(Pid pid) {
  if (!is_addressable_pid(pid)) return std::nullopt;
  std::error_code ec;
  auto target = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
  if (ec || target.empty()) return std::nullopt;
  return target;
}

std::optional<std::chrono::system_clock::time_point> process_start_time(Pid pid) {
  if (!is_addressable_pid(pid)) return std::nullopt;
  auto fields = read_stat_fields(static_cast<pid_t>(pid));
  if (!fields) return std::nullopt;
  const long ticks_per_second = ::sysconf(_SC_CLK_TCK);
  if (ticks_per_second <= 0) return std::nullopt;
  unsigned long long ticks = 0;
  try {
    ticks = std::stoull((*fields)[kStartTimeField]);
  } catch (const std::exception&) {
    return std::nullopt;
  }

  // The wall-clock moment of boot, to the clock's precision (not the whole seconds of
  // /proc/stat's btime): now on the wall clock minus the time since boot.
  timespec wall{};
  timespec since_boot{};
  ::clock_gettime(CLOCK_REALTIME, &wall);
  ::clock_gettime(CLOCK_BOOTTIME, &since_boot);
  using std::chrono::nanoseconds;
  using std::chrono::seconds;
  const auto boot = std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          seconds(wall.tv_sec) + nanoseconds(wall.tv_nsec) - seconds(since_boot.tv_sec) -
          nanoseconds(since_boot.tv_nsec)));
  const auto after_boot = nanoseconds(ticks * 1'000'000'000ULL / static_cast<unsigned long long>(ticks_per_second));
  return boot + std::chrono::duration_cast<std::chrono::system_clock::duration>(after_boot);
}

Result<std::filesystem::path> current_executable_path() {
  std::error_code ec;
  auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return fail(system_error(ec.value(), "cannot read the path of the running executable"));
  return path;
}

Pid current_pid() { return static_cast<Pid>(::getpid()); }

std::vector<std::string> program_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool arguments_are_bytes() { return true; }

std::vector<std::string> current_environment() {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) entries.emplace_back(*entry);
  return entries;
}

void set_environment_variable(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

std::vector<Pid> running_processes() {
  std::vector<Pid> pids;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const auto name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    pids.push_back(static_cast<Pid>(std::stoul(name)));
  }
  return pids;
}

namespace {

// A /proc file of NUL-separated strings (environ, cmdline).
std::optional<std::vector<std::string>> read_nul_separated(Pid pid, const char* file) {
  if (!is_addressable_pid(pid)) return std::nullopt;
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file, std::ios::binary);
  if (!in) return std::nullopt;
  const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<std::string> parts;
  for (std::size_t start = 0; start < content.size();) {
    auto end = content.find('\0', start);
    if (end == std::string::npos) end = content.size();
    parts.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

int exit_status_of(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

}  // namespace

std::optional<std::vector<std::string>> process_environment(Pid pid) { return read_nul_separated(pid, "environ"); }

std::optional<std::vector<std::string>> process_command_line(Pid pid) { return read_nul_separated(pid, "cmdline"); }

void PipeReader::close() {
  if (handle_ != kNone) ::close(static_cast<int>(handle_));
  handle_ = kNone;
}

Result<std::size_t> PipeReader::read_some(char* into, std::size_t capacity, std::chrono::milliseconds wait) {
  const int fd = static_cast<int>(handle_);
  for (;;) {
    pollfd poller{fd, POLLIN, 0};
    const int ready = ::poll(&poller, 1, static_cast<int>(wait.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return fail(system_error(errno, "failed to wait for the pipe"));
    if (ready == 0) return fail("timed out waiting for output", ErrorKind::TimedOut);
    const ssize_t got = ::read(fd, into, capacity);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(system_error(errno, "failed to read the pipe"));
    return static_cast<std::size_t>(got);
  }
}

Result<AttachedProcess::Started> AttachedProcess::start(const std::filesystem::path& program,
                                                          const std::vector<std::string>& args,
                                                          const std::vector<std::string>& environment) {
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) return fail(system_error(errno, "cannot create a pipe"));
  PipeReader output(out_pipe[0]);
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
    const int error = errno;
    ::close(out_pipe[1]);
    return fail(system_error(error, "cannot create a pipe"));
  }
  PipeReader errors(err_pipe[0]);

  std::vector<std::string> argv_text{program.string()};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text = environment;
  std::vector<char*> envp;
  for (auto& entry : env_text) envp.push_back(entry.data());
  envp.push_back(nullptr);

  // Its own process group, so that kill() also reaches what it starts without a session
  // of its own; the pipes' other ends are close-on-exec, so only the child's copies stay.
  SpawnSetup setup;
  int e = posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (e == 0) e = posix_spawn_file_actions_adddup2(&setup.actions, out_pipe[1], STDOUT_FILENO);
  if (e == 0) e = posix_spawn_file_actions_adddup2(&setup.actions, err_pipe[1], STDERR_FILENO);
  if (e == 0) e = posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETPGROUP);
  if (e == 0) e = posix_spawnattr_setpgroup(&setup.attributes, 0);
  pid_t pid = 0;
  if (e == 0) e = ::posix_spawn(&pid, argv_text[0].c_str(), &setup.actions, &setup.attributes, argv.data(), envp.data());
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (e != 0) return fail(system_error(e, "cannot start " + program.string()));
  return Started{AttachedProcess(static_cast<Pid>(pid), -1), std::move(output), std::move(errors)};
}

AttachedProcess::AttachedProcess(AttachedProcess&& other) noexcept
    : pid_(other.pid_), handle_(other.handle_), exit_status_(other.exit_status_) {
  other.pid_ = 0;
}

AttachedProcess& AttachedProcess::operator=(AttachedProcess&& other) noexcept {
  if (this != &other) {
    kill();
    pid_ = other.pid_;
    handle_ = other.handle_;
    exit_status_ = other.exit_status_;
    other.pid_ = 0;
  }
  return *this;
}

AttachedProcess::~AttachedProcess() { kill(); }

std::optional<int> AttachedProcess::wait_exit(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (!exit_status_ && pid_ != 0) {
    int status = 0;
    const pid_t done = ::waitpid(static_cast<pid_t>(pid_), &status, WNOHANG);
    if (done == static_cast<pid_t>(pid_)) {
      exit_status_ = exit_status_of(status);
      break;
    }
    if (done < 0 && errno != EINTR) break;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return exit_status_;
}

void AttachedProcess::kill() {
  if (exit_status_ || pid_ == 0) return;
  const auto pid = static_cast<pid_t>(pid_);
  ::kill(-pid, SIGKILL);  // its process group: what it started without a session of its own
  ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  exit_status_ = exit_status_of(status);
}

}  // namespace vesk
