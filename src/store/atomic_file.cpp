#include "store/atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <thread>

#include "platform/socket.hpp"

namespace vesk {

namespace {

// Writes the bytes to a new user-only file and forces them to disk.
Status write_durably(const std::filesystem::path& path, std::string_view bytes) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.valid()) return fail(system_error(errno));
  const auto give_up = [&](Error error) {
    fd.reset();
    ::unlink(path.c_str());
    return fail(std::move(error));
  };
  // A file left over from an earlier crash may carry other permissions.
  if (::fchmod(fd.get(), 0600) != 0) return give_up(system_error(errno));
  if (auto written = write_all(fd.get(), bytes); !written) return give_up(std::move(written.error()));
  if (::fsync(fd.get()) != 0) return give_up(system_error(errno));
  if (::close(fd.release()) != 0) return give_up(system_error(errno));
  return {};
}

// Makes a finished rename durable. Best effort: the new file is in place either way.
void sync_directory(const std::filesystem::path& directory) {
  UniqueFd fd(::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.valid()) ::fsync(fd.get());
}

}  // namespace

Status create_private_directories(const std::filesystem::path& directory) {
  if (directory.empty()) return {};
  struct stat info{};
  if (::stat(directory.c_str(), &info) == 0) return {};
  if (directory.has_parent_path() && directory.parent_path() != directory) {
    if (auto parent = create_private_directories(directory.parent_path()); !parent) return parent;
  }
  if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
    return fail(system_error(errno, "failed to create directory " + directory.string()));
  }
  return {};
}

std::filesystem::path temporary_path_beside(const std::filesystem::path& path) {
  const auto thread = std::hash<std::thread::id>{}(std::this_thread::get_id());
  auto name = path.filename().string() + "." + std::to_string(::getpid()) + "-" + std::to_string(thread) + ".tmp";
  return path.parent_path() / name;
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

}  // namespace vesk
