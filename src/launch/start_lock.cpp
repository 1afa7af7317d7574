#include "launch/start_lock.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "base/log.hpp"

namespace vesk {

namespace {

// The data directory holds instance tokens: only its owner may enter it.
Status create_data_dir(const std::filesystem::path& data_dir) {
  std::error_code ec;
  if (data_dir.has_parent_path()) std::filesystem::create_directories(data_dir.parent_path(), ec);
  if (ec) return fail(system_error(ec.value(), "failed to create directory " + data_dir.parent_path().string()));
  if (::mkdir(data_dir.c_str(), 0700) != 0 && errno != EEXIST) {
    return fail(system_error(errno, "failed to create directory " + data_dir.string()));
  }
  return {};
}

}  // namespace

std::filesystem::path start_lock_path(const std::filesystem::path& data_dir) {
  return data_dir / "server-start.lock";
}

void StartLock::release() {
  if (!file_.valid()) return;
  // Delete only our own file: after a takeover the path may name another holder's lock.
  struct stat ours {};
  struct stat at_path {};
  const bool still_ours = ::fstat(file_.get(), &ours) == 0 && ::stat(path_.c_str(), &at_path) == 0 &&
                          ours.st_dev == at_path.st_dev && ours.st_ino == at_path.st_ino;
  if (still_ours && ::unlink(path_.c_str()) != 0 && errno != ENOENT) {
    log_info("failed to remove server start lock " + path_.string() + ": " + system_error(errno).text());
  }
  file_.reset();
}

Result<StartLock> acquire_start_lock(const std::filesystem::path& data_dir) {
  if (auto created = create_data_dir(data_dir); !created) return fail(created.error());
  const auto path = start_lock_path(data_dir);
  const auto deadline = std::chrono::steady_clock::now() + kStartLockWait;
  while (true) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      log_info("acquired server start lock " + path.string());
      return StartLock(path, UniqueFd(fd));
    }
    if (errno != EEXIST) return fail(system_error(errno, "failed to create server start lock " + path.string()));
    if (std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(kStartLockRetry);
      continue;
    }
    // Held longer than any start takes: its holder died. Take it over.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      return fail(system_error(errno, "timed out waiting for server start lock " + path.string()));
    }
  }
}

}  // namespace vesk
