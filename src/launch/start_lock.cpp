#include "launch/start_lock.hpp"

#include <thread>

#include "base/log.hpp"
#include "platform/files.hpp"

namespace vesk {

std::filesystem::path start_lock_path(const std::filesystem::path& data_dir) {
  return data_dir / "server-start.lock";
}

void StartLock::release() {
  // Delete only our own file: after a takeover the path may name another holder's lock.
  if (auto removed = file_.remove_if_ours(path_); !removed) {
    log_info("failed to remove server start lock " + path_.string() + ": " + removed.error().text());
  }
}

Result<StartLock> acquire_start_lock(const std::filesystem::path& data_dir) {
  // The data directory holds instance tokens: only its owner may enter it.
  if (auto created = create_private_directories(data_dir); !created) return fail(created.error());
  const auto path = start_lock_path(data_dir);
  const auto deadline = std::chrono::steady_clock::now() + kStartLockWait;
  while (true) {
    auto created = create_exclusive_file(path);
    if (!created) return fail(std::move(created.error()).wrap("failed to create server start lock " + path.string()));
    if (*created) {
      log_info("acquired server start lock " + path.string());
      return StartLock(path, std::move(**created));
    }
    if (std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(kStartLockRetry);
      continue;
    }
    // Held longer than any start takes: its holder died. Take it over.
    if (auto removed = remove_file(path); !removed) {
      return fail(std::move(removed.error()).wrap("timed out waiting for server start lock " + path.string()));
    }
  }
}

}  // namespace vesk
