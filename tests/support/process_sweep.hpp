#pragma once
// Finding and stopping every process a test caused to exist, including those that no
// record names any more (a background server whose record was cleared, a browser that a
// stale restart replaced): they all carry the test's own HOME in their environment.

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/process.hpp"

namespace vesk::test {

// Pids of live processes whose environment holds HOME=<home>.
std::vector<Pid> processes_with_home(const std::filesystem::path& home);
// Kills every process with that HOME, and their trees.
void kill_processes_with_home(const std::filesystem::path& home);

// The pid of a process that has run and exited (the fake browser, started without the
// arguments it needs); nullopt if it could not be started or did not end.
std::optional<Pid> pid_of_an_exited_process();

// Polls `condition` every 10 ms until it holds or `limit` passes; returns its last value.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::milliseconds(30000));

}  // namespace vesk::test
