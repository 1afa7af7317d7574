#pragma once
// The start lock: the file "server-start.lock" in the data directory, created exclusively
// by the one process that starts a background server, so that concurrent commands start
// exactly one. A file left behind by a process that died is taken over after a wait.

#include <chrono>
#include <filesystem>

#include "base/error.hpp"
#include "platform/files.hpp"

namespace vesk {

inline constexpr std::chrono::seconds kStartLockWait{10};
inline constexpr std::chrono::milliseconds kStartLockRetry{100};

// The held lock. Releasing it (on destruction) deletes the file, then closes it.
class StartLock {
 public:
  StartLock(std::filesystem::path path, ExclusiveFile file) : path_(std::move(path)), file_(std::move(file)) {}
  StartLock(StartLock&&) noexcept = default;
  StartLock& operator=(StartLock&&) = delete;
  StartLock(const StartLock&) = delete;
  StartLock& operator=(const StartLock&) = delete;
  ~StartLock() { release(); }

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  // Deleting a file that is gone is fine; any other failure is only logged.
  void release();

 private:
  std::filesystem::path path_;
  ExclusiveFile file_;
};

std::filesystem::path start_lock_path(const std::filesystem::path& data_dir);

// Creates the data directory if needed, then the lock file, retrying every 100 ms for
// 10 s; after that an existing file counts as abandoned and is deleted and re-created.
Result<StartLock> acquire_start_lock(const std::filesystem::path& data_dir);

}  // namespace vesk
