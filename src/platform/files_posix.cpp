// Files on POSIX systems: descriptors, modes, fsync, rename.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.hpp"

namespace vesk {

namespace {

// Writes all bytes to a descriptor, repeating on interruptions and short writes.
Status write_whole(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return fail(system_error(errno));
    }
    if (written == 0) return fail("failed to write whole buffer");
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

// Writes the bytes to a new user-only file and forces them to disk.
Status write_durably(const std::filesystem::path& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return fail(system_error(errno));
  Status written = {};
  // A file left over from an earlier crash may carry other permissions.
  if (::fchmod(fd, 0600) != 0) written = fail(system_error(errno));
  if (written) written = write_whole(fd, bytes);
  if (written && ::fsync(fd) != 0) written = fail(system_error(errno));
  if (::close(fd) != 0 && written) written = fail(system_error(errno));
  if (!written) ::unlink(path.c_str());
  return written;
}

// Makes a finished rename durable. Best effort: the new file is in place either way.
void sync_directory(const std::filesystem::path& directory) {
  const int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

template <class Bytes>
Result<Bytes> read_all(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(system_error(errno));
  // Read straight into the result, sized to a regular file's size and one byte more (the
  // read that finds the end); a file that grows meanwhile, or one whose size is not known
  // (a pipe), is read on in blocks.
  constexpr std::size_t kBlock = 1 << 16;
  Bytes bytes;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    bytes.resize(static_cast<std::size_t>(info.st_size) + 1);
  }
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) bytes.resize(filled + kBlock);
    const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      ::close(fd);
      return fail(system_error(error));
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  ::close(fd);
  bytes.resize(filled);
  return bytes;
}

}  // namespace

Result<std::string> read_whole_file(const std::filesystem::path& path) { return read_all<std::string>(path); }

Result<std::vector<std::uint8_t>> read_whole_file_bytes(const std::filesystem::path& path) {
  return read_all<std::vector<std::uint8_t>>(path);
}

Status append_to_file(const std::filesystem::path& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return fail(system_error(errno, "failed to open " + path.string()));
  const ssize_t written = ::write(fd, bytes.data(), bytes.size());
  const int error = errno;
  ::close(fd);
  if (written < 0) return fail(system_error(error, "failed to write " + path.string()));
  if (static_cast<std::size_t>(written) != bytes.size()) return fail("failed to write whole buffer to " + path.string());
  return {};
}

Status create_private_directories(const std::filesystem::path& directory) {
  if (directory.empty()) return {};
  struct stat info {};
  if (::stat(directory.c_str(), &info) == 0) return {};
  if (directory.has_parent_path() && directory.parent_path() != directory) {
    if (auto parent = create_private_directories(directory.parent_path()); !parent) return parent;
  }
  if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
    return fail(system_error(errno, "failed to create directory " + directory.string()));
  }
  return {};
}

Status write_file_atomically(const std::filesystem::path& path, std::string_view bytes) {
  const auto temporary = temporary_path_beside(path);
  if (auto written = write_durably(temporary, bytes); !written) {
    return fail(std::move(written.error()).wrap("failed to write " + temporary.string()));
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return fail(system_error(error, "failed to replace " + path.string()));
  }
  sync_directory(path.parent_path());
  return {};
}

void ExclusiveFile::close() {
  if (valid()) ::close(static_cast<int>(handle_));
  handle_ = kNone;
}

Status ExclusiveFile::remove_if_ours(const std::filesystem::path& path) {
  if (!valid()) return {};
  struct stat ours {};
  struct stat at_path {};
  const bool still_ours = ::fstat(static_cast<int>(handle_), &ours) == 0 && ::stat(path.c_str(), &at_path) == 0 &&
                          ours.st_dev == at_path.st_dev && ours.st_ino == at_path.st_ino;
  Status removed = {};
  if (still_ours && ::unlink(path.c_str()) != 0 && errno != ENOENT) removed = fail(system_error(errno));
  close();
  return removed;
}

Result<std::optional<ExclusiveFile>> create_exclusive_file(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) return std::optional<ExclusiveFile>(ExclusiveFile(fd));
  if (errno == EEXIST) return std::optional<ExclusiveFile>();
  return fail(system_error(errno));
}

Status remove_file(const std::filesystem::path& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return fail(system_error(errno));
  return {};
}

}  // namespace vesk
