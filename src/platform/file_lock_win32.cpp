// FileLock on Windows: LockFileEx on the file's first byte, tried without blocking and
// retried with a growing pause, so that the wait has a deadline.

#include <windows.h>

#include <algorithm>
#include <thread>

#include "platform/file_lock.hpp"
#include "platform/windows_error.hpp"

namespace vesk {

namespace {
constexpr std::chrono::milliseconds kFirstPause{1};
constexpr std::chrono::milliseconds kLongestPause{20};

bool try_lock(HANDLE file) {
  OVERLAPPED first_byte{};
  return ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &first_byte) != 0;
}
}  // namespace

Result<FileLock> FileLock::acquire(const std::filesystem::path& path, std::chrono::milliseconds wait) {
  // Others may open, replace or delete it: only the locked byte excludes them.
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return fail(last_windows_error("failed to open lock file " + path.string()));
  FileLock lock(reinterpret_cast<std::intptr_t>(file));
  const auto deadline = std::chrono::steady_clock::now() + wait;
  auto pause = kFirstPause;
  while (!try_lock(file)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
      return fail(windows_error(error, "failed to lock " + path.string()));
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return fail("timed out after " + std::to_string(wait.count() / 1000) + " s waiting for lock " + path.string() +
                      ", held by another vesk process",
                  ErrorKind::TimedOut);
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, kLongestPause);
  }
  return lock;
}

void FileLock::close() {
  if (file_ != kNone) ::CloseHandle(reinterpret_cast<HANDLE>(file_));
  file_ = kNone;
}

}  // namespace vesk
