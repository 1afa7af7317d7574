#include "support/process_sweep.hpp"

#include <algorithm>
#include <thread>

#include "support/harness.hpp"

namespace vesk::test {

std::vector<Pid> processes_with_home(const std::filesystem::path& home) {
  const std::string wanted = "HOME=" + home.string();
  std::vector<Pid> found;
  for (const Pid pid : running_processes()) {
    if (pid == current_pid() || !process_is_alive(pid)) continue;
    const auto environment = process_environment(pid);
    if (environment && std::ranges::find(*environment, wanted) != environment->end()) found.push_back(pid);
  }
  return found;
}

void kill_processes_with_home(const std::filesystem::path& home) {
  for (const Pid pid : processes_with_home(home)) (void)kill_process_tree(pid);
}

std::optional<Pid> pid_of_an_exited_process() {
  auto started = spawn_detached(TestEnv::fake_browser_binary().string(), {});
  if (!started || !eventually([&] { return !process_is_alive(*started); })) return std::nullopt;
  return *started;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

}  // namespace vesk::test
