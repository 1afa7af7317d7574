#include "browser/chromium/chromium_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

extern char** environ;

namespace vesk::browser {

namespace {

bool is_executable(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::filesystem::path> find_on_path(const std::string& name, const EnvLookup& env) {
  auto path = env("PATH");
  if (!path) return std::nullopt;
  std::string_view rest = *path;
  while (true) {
    auto colon = rest.find(':');
    std::string_view dir = rest.substr(0, colon);
    if (!dir.empty()) {
      auto candidate = std::filesystem::path(dir) / name;
      if (is_executable(candidate)) return candidate;
    }
    if (colon == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(colon + 1);
  }
}

// The environment Chromium gets: ours, with its temp and config folders inside the profile
// (crash databases and temp folders survive a SIGKILL there instead of littering /tmp),
// and no session bus (it only produces error noise here).
std::vector<std::string> chromium_environment(const std::filesystem::path& user_data_dir,
                                              const std::filesystem::path& temp_dir) {
  const std::filesystem::path runtime = user_data_dir / "runtime";
  std::vector<std::pair<std::string, std::string>> overrides = {
      {"TMPDIR", temp_dir.string()},
      {"XDG_CONFIG_HOME", (runtime / "config").string()},
      {"XDG_CACHE_HOME", (runtime / "cache").string()},
      {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
  };
  std::vector<std::string> out;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    bool replaced = false;
    for (const auto& [name, value] : overrides) {
      if (text.starts_with(name + "=")) replaced = true;
    }
    if (!replaced) out.emplace_back(text);
  }
  for (const auto& [name, value] : overrides) out.push_back(name + "=" + value);
  return out;
}

std::vector<char*> c_strings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  out.reserve(strings.size() + 1);
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

namespace {

// Chromium puts its singleton socket in TMPDIR, and a Unix socket path has at most 107
// bytes: a temp folder inside a deep profile path makes it abort at start. So each
// profile gets a short temp folder of its own, named after a hash of the profile path (the
// same profile reuses it, so nothing piles up after a SIGKILL). It must be ours and
// private; otherwise a fresh one is made.
Result<std::filesystem::path> private_temp_dir(const std::filesystem::path& user_data_dir) {
  const char* base = std::getenv("TMPDIR");
  std::filesystem::path root = base != nullptr && *base != '\0' && std::strlen(base) < 40 ? base : "/tmp";
  const auto hash = std::hash<std::string>{}(std::filesystem::absolute(user_data_dir).lexically_normal().string());
  char name[64];
  std::snprintf(name, sizeof name, "vesk-%u-%08zx", static_cast<unsigned>(::geteuid()), hash & 0xffffffffu);
  const std::filesystem::path dir = root / name;
  if (::mkdir(dir.c_str(), 0700) == 0) return dir;
  struct stat info {};
  if (errno == EEXIST && ::lstat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
      info.st_uid == ::geteuid() && (info.st_mode & 077) == 0) {
    // Left by an earlier run of this profile: start empty.
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) std::filesystem::remove_all(entry.path(), ec);
    return dir;
  }
  std::string pattern = (root / "vesk-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return fail(system_error(errno, "failed to create a temp folder in " + root.string()));
  return std::filesystem::path(pattern);
}

}  // namespace

Result<std::filesystem::path> find_chromium_binary(const EnvLookup& env) {
  if (auto chosen = env("VESK_CHROMIUM"); chosen && !chosen->empty()) {
    std::filesystem::path path(*chosen);
    if (path.has_parent_path()) {
      if (is_executable(path)) return path;
      return fail("VESK_CHROMIUM names " + *chosen + ", which is not an executable file");
    }
    if (auto found = find_on_path(*chosen, env)) return *found;
    return fail("VESK_CHROMIUM names " + *chosen + ", which is not on PATH");
  }
  const std::filesystem::path debian_binary = "/usr/lib/chromium/chromium";
  if (is_executable(debian_binary)) return debian_binary;
  for (const char* name : {"chromium", "chromium-browser", "google-chrome"}) {
    if (auto found = find_on_path(name, env)) return *found;
  }
  return fail(
      "no Chromium found: install the chromium package or set VESK_CHROMIUM to the browser "
      "binary");
}

std::vector<std::string> chromium_arguments(const ChromiumLaunch& launch) {
  std::vector<std::string> args = {
      "--remote-debugging-pipe",
      "--user-data-dir=" + launch.user_data_dir.string(),
      "--no-first-run",
      "--no-default-browser-check",
      "--disable-gpu",
      "--disable-quic",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      "--disable-dev-shm-usage",
      "--mute-audio",
      "--window-size=1280,800",
  };
  // As root Chromium refuses to start with its sandbox.
  if (::geteuid() == 0 || process_env("VESK_CHROMIUM_NO_SANDBOX")) args.emplace_back("--no-sandbox");
  if (launch.headless) args.emplace_back("--headless=new");
  for (const auto& extra : launch.extra_args) args.push_back(extra);
  args.emplace_back("about:blank");
  return args;
}

Result<ChromiumProcess> ChromiumProcess::start(const ChromiumLaunch& launch) {
  std::error_code ec;
  for (const char* sub : {"config", "cache"}) {
    std::filesystem::create_directories(launch.user_data_dir / "runtime" / sub, ec);
    if (ec) {
      return fail(Error("failed to create " + (launch.user_data_dir / "runtime" / sub).string() +
                        ": " + ec.message()));
    }
  }

  std::vector<std::string> argv_strings = chromium_arguments(launch);
  argv_strings.insert(argv_strings.begin(), launch.binary.string());
  auto temp_dir = private_temp_dir(launch.user_data_dir);
  if (!temp_dir) return fail(temp_dir.error());
  std::vector<std::string> env_strings = chromium_environment(launch.user_data_dir, *temp_dir);
  std::vector<char*> argv = c_strings(argv_strings);
  std::vector<char*> envp = c_strings(env_strings);

  int commands[2];  // we write [1]; Chromium reads [0] as fd 3
  int replies[2];   // Chromium writes [1] as fd 4; we read [0]
  if (::pipe2(commands, O_CLOEXEC) != 0) return fail(system_error(errno, "failed to create a pipe"));
  UniqueFd command_read(commands[0]), command_write(commands[1]);
  if (::pipe2(replies, O_CLOEXEC) != 0) return fail(system_error(errno, "failed to create a pipe"));
  UniqueFd reply_read(replies[0]), reply_write(replies[1]);

  UniqueFd log_fd(::open(launch.log_path.empty() ? "/dev/null" : launch.log_path.c_str(),
                         O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!log_fd.valid()) {
    return fail(system_error(errno, "failed to open " + launch.log_path.string()));
  }
  UniqueFd null_fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  const pid_t parent = ::getpid();

  pid_t pid = ::fork();
  if (pid < 0) return fail(system_error(errno, "failed to fork for Chromium"));
  if (pid == 0) {
    // Child: only async-signal-safe calls from here to exec.
    ::setpgid(0, 0);
    // Safety net: if veskbrowser dies without cleaning up, Chromium is killed too.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    // Move the pipe ends clear of 0..4 first, so dup2 never meets its own source.
    int in = ::fcntl(command_read.get(), F_DUPFD, 10);
    int out = ::fcntl(reply_write.get(), F_DUPFD, 10);
    int log = ::fcntl(log_fd.get(), F_DUPFD, 10);
    int null = ::fcntl(null_fd.get(), F_DUPFD, 10);
    if (in < 0 || out < 0 || log < 0 || null < 0) ::_exit(127);
    ::dup2(null, 0);
    ::dup2(log, 1);
    ::dup2(log, 2);
    ::dup2(in, 3);
    ::dup2(out, 4);
    ::syscall(SYS_close_range, 5u, ~0u, 0u);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  // Parent: both sides call setpgid so the group exists before anyone signals it.
  ::setpgid(pid, pid);

  ChromiumProcess process;
  process.pid_ = pid;
  process.to_browser_ = std::move(command_write);
  process.from_browser_ = std::move(reply_read);
  return process;
}

ChromiumProcess::ChromiumProcess(ChromiumProcess&& other) noexcept
    : pid_(other.pid_),
      reaped_(other.reaped_),
      to_browser_(std::move(other.to_browser_)),
      from_browser_(std::move(other.from_browser_)) {
  other.pid_ = -1;
}

ChromiumProcess& ChromiumProcess::operator=(ChromiumProcess&& other) noexcept {
  if (this != &other) {
    kill();
    pid_ = other.pid_;
    reaped_ = other.reaped_;
    to_browser_ = std::move(other.to_browser_);
    from_browser_ = std::move(other.from_browser_);
    other.pid_ = -1;
  }
  return *this;
}

ChromiumProcess::~ChromiumProcess() { kill(); }

void kill_process_group_now(pid_t group) {
  if (group > 0) ::kill(-group, SIGKILL);
}

void ChromiumProcess::kill() {
  if (pid_ <= 0) return;
  kill_process_group_now(pid_);
  if (!reaped_) {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
  }
  pid_ = -1;
}

bool ChromiumProcess::exited() {
  if (pid_ <= 0 || reaped_) return true;
  int status = 0;
  pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done == pid_ || (done < 0 && errno == ECHILD)) {
    reaped_ = true;
    return true;
  }
  return false;
}

}  // namespace vesk::browser
