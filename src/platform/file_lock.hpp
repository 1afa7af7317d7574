#pragma once
// An exclusive lock between processes, held on a lock file for the life of the object
// (flock on Linux, LockFileEx on Windows). The system drops it when its holder dies, so a
// crash never leaves it held.

#include <chrono>
#include <cstdint>
#include <filesystem>

#include "base/error.hpp"

namespace vesk {

class FileLock {
 public:
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();  // closing the file releases the lock

  // Creates the file (user-only) when it is missing and waits for the lock. Fails when
  // the file cannot be opened, or with TimedOut when another holder keeps it past `wait`.
  static Result<FileLock> acquire(const std::filesystem::path& path, std::chrono::milliseconds wait);

 private:
  static constexpr std::intptr_t kNone = -1;
  explicit FileLock(std::intptr_t file) : file_(file) {}
  void close();
  std::intptr_t file_ = kNone;  // the system's descriptor or handle
};

}  // namespace vesk
