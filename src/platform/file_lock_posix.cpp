// FileLock on Linux: flock on the lock file, tried without blocking and retried with a
// growing pause, so that the wait has a deadline.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "platform/file_descriptor.hpp"
#include "platform/file_lock.hpp"

namespace vesk {

namespace {
constexpr std::chrono::milliseconds kFirstPause{1};
constexpr std::chrono::milliseconds kLongestPause{20};
}  // namespace

Result<FileLock> FileLock::acquire(const std::filesystem::path& path, std::chrono::milliseconds wait) {
  UniqueFd file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!file.valid()) return fail(system_error(errno, "failed to open lock file " + path.string()));
  const auto deadline = std::chrono::steady_clock::now() + wait;
  auto pause = kFirstPause;
  while (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return fail(system_error(errno, "failed to lock " + path.string()));
    if (std::chrono::steady_clock::now() >= deadline) {
      return fail("timed out after " + std::to_string(wait.count() / 1000) + " s waiting for lock " + path.string() +
                      ", held by another vesk process",
                  ErrorKind::TimedOut);
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, kLongestPause);
  }
  return FileLock(file.release());
}

void FileLock::close() {
  if (file_ != kNone) ::close(static_cast<int>(file_));
  file_ = kNone;
}

}  // namespace vesk
