#pragma once
// Processes: start one detached and hidden that outlives us, kill a process tree, ask
// whether a pid is alive and what executable it runs. process_posix.cpp does it with
// posix_spawn and /proc, process_win32.cpp with CreateProcessW and the process snapshot.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
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

}  // namespace vesk
