#pragma once
// An exclusive lock between processes, held on a lock file for the life of the object
// (flock on Linux; the Windows twin locks the file's first byte). The system drops it
// when its holder dies, so a crash never leaves it held.

#include <chrono>
#include <filesystem>

#include "base/error.hpp"
#include "platform/socket.hpp"

namespace vesk {

class FileLock {
 public:
  FileLock(FileLock&&) noexcept = default;
  FileLock& operator=(FileLock&&) noexcept = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock() = default;  // closing the file releases the lock

  // Creates the file (user-only) when it is missing and waits for the lock. Fails when
  // the file cannot be opened, or with TimedOut when another holder keeps it past `wait`.
  static Result<FileLock> acquire(const std::filesystem::path& path, std::chrono::milliseconds wait);

 private:
  explicit FileLock(UniqueFd file) : file_(std::move(file)) {}
  UniqueFd file_;
};

}  // namespace vesk
