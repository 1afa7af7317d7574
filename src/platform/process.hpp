#pragma once
// Processes: start one detached and hidden that outlives us, start one attached whose
// output we read, kill a process tree, ask whether a pid is alive, what executable it
// runs, what environment and command line it has. process_posix.cpp does it with
// posix_spawn and /proc, process_win32.cpp with CreateProcessW and the process snapshot.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/error.hpp"

namespace vesk {

using Pid = std::uint32_t;

// Starts `program` with `args` in a session of its own, standard streams on /dev/null,
// never waited for (it is reparented to init when we exit). A program name without "/"
// is looked up in the directory of the running executable first, then on PATH.
// Fails with the system error when the program cannot be found or executed.
Result<Pid> spawn_detached(const std::string& program, const std::vector<std::string>& args);

// SIGKILL to the process, its process group and every descendant found through /proc.
// A process that no longer exists counts as killed. Returns once the process is gone (or
// after a few seconds, if it is stuck in the kernel).
Status kill_process_tree(Pid pid);

// True when /proc/<pid> exists and the process is not a zombie.
bool process_is_alive(Pid pid);

// The executable of a running process (readlink /proc/<pid>/exe), if it can be read.
std::optional<std::filesystem::path> process_image_path(Pid pid);

// When the process started, on the wall clock; nullopt when it is gone.
std::optional<std::chrono::system_clock::time_point> process_start_time(Pid pid);

// The running executable (readlink /proc/self/exe).
Result<std::filesystem::path> current_executable_path();

Pid current_pid();

// The words of this program's command line after the program's name. On Windows they come
// from the wide command line (the narrow one would pass through the ANSI code page), in
// UTF-8; a word that is not valid UTF-16 stays invalid as UTF-8, so that the checks that
// refuse such paths on POSIX systems refuse it too.
std::vector<std::string> program_arguments(int argc, char** argv);
// True where a command line's arguments are bytes (POSIX systems), false where they are
// UTF-16 text (Windows), which cannot carry bytes that are not UTF-8.
bool arguments_are_bytes();

// This process's environment, "NAME=value" each.
std::vector<std::string> current_environment();
// Sets (or with nullopt removes) a variable of this process's environment, for what it
// reads and what it starts later. Not safe while other threads read the environment.
void set_environment_variable(const std::string& name, const std::optional<std::string>& value);

// Every running process's pid.
std::vector<Pid> running_processes();
// Another process's environment ("NAME=value" each) and command line (its arguments, the
// program first); nullopt when the process is gone or not ours to read.
std::optional<std::vector<std::string>> process_environment(Pid pid);
std::optional<std::vector<std::string>> process_command_line(Pid pid);

// The reading end of a pipe from a child process, closed on destruction. Move-only.
class PipeReader {
 public:
  PipeReader() = default;
  explicit PipeReader(std::intptr_t handle) : handle_(handle) {}
  PipeReader(PipeReader&& other) noexcept : handle_(std::exchange(other.handle_, kNone)) {}
  PipeReader& operator=(PipeReader&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = std::exchange(other.handle_, kNone);
    }
    return *this;
  }
  PipeReader(const PipeReader&) = delete;
  PipeReader& operator=(const PipeReader&) = delete;
  ~PipeReader() { close(); }

  // Up to `capacity` bytes, waiting at most `wait` for the first: 0 once every writer has
  // closed its end; kind TimedOut when nothing came in time.
  Result<std::size_t> read_some(char* into, std::size_t capacity, std::chrono::milliseconds wait);
  void close();

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;  // the system's descriptor or handle
};

// A child process that we wait for: its standard input on the null device, its standard
// output and error through pipes to us, in a process group of its own. For programs that
// start programs and read what they print (test harnesses). Killed on destruction.
class AttachedProcess {
 public:
  struct Started;
  // `environment` is the child's whole environment, "NAME=value" each. `program` is a
  // path; it is not looked up.
  static Result<Started> start(const std::filesystem::path& program, const std::vector<std::string>& args,
                               const std::vector<std::string>& environment);
  AttachedProcess() = default;
  AttachedProcess(AttachedProcess&& other) noexcept;
  AttachedProcess& operator=(AttachedProcess&& other) noexcept;
  AttachedProcess(const AttachedProcess&) = delete;
  AttachedProcess& operator=(const AttachedProcess&) = delete;
  ~AttachedProcess();

  [[nodiscard]] Pid pid() const { return pid_; }
  // The exit status once it has ended (on POSIX systems 128 + the signal for a killed
  // process); nullopt if it still runs after `wait`.
  std::optional<int> wait_exit(std::chrono::milliseconds wait);
  // Kills it and the processes it started (its process group, its tree), and waits for it.
  // Idempotent.
  void kill();

 private:
  AttachedProcess(Pid pid, std::intptr_t handle) : pid_(pid), handle_(handle) {}
  Pid pid_ = 0;
  std::intptr_t handle_ = -1;  // the process handle on Windows
  std::optional<int> exit_status_;
};

struct AttachedProcess::Started {
  AttachedProcess process;
  PipeReader output;
  PipeReader errors;
};

}  // namespace vesk
