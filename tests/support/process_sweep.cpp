#include "support/process_sweep.hpp"

#include <fstream>
#include <iterator>
#include <thread>

#include "platform/process.hpp"

namespace vesk::test {

namespace {

std::vector<std::string> nul_separated(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start < content.size()) {
    auto end = content.find('\0', start);
    if (end == std::string::npos) end = content.size();
    parts.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace

std::vector<pid_t> processes_with_home(const std::filesystem::path& home) {
  const std::string wanted = "HOME=" + home.string();
  std::vector<pid_t> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const auto name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = std::stoi(name);
    if (!process_is_alive(static_cast<Pid>(pid))) continue;
    for (const auto& variable : nul_separated(entry.path() / "environ")) {
      if (variable == wanted) {
        found.push_back(pid);
        break;
      }
    }
  }
  return found;
}

std::vector<std::string> process_command_line(pid_t pid) {
  return nul_separated("/proc/" + std::to_string(pid) + "/cmdline");
}

void kill_processes_with_home(const std::filesystem::path& home) {
  for (pid_t pid : processes_with_home(home)) (void)kill_process_tree(static_cast<Pid>(pid));
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
