#include "platform/files.hpp"

#include <functional>
#include <thread>

#include "platform/process.hpp"
#include "platform/random.hpp"

namespace vesk {

std::filesystem::path temporary_path_beside(const std::filesystem::path& path) {
  const auto thread = std::hash<std::thread::id>{}(std::this_thread::get_id());
  auto name = path.filename().string() + "." + std::to_string(current_pid()) + "-" + std::to_string(thread) + ".tmp";
  return path.parent_path() / name;
}

Result<std::filesystem::path> create_temporary_directory(std::string_view prefix) {
  std::error_code ec;
  const auto parent = std::filesystem::temp_directory_path(ec);
  if (ec) return fail(system_error(ec.value(), "cannot find the temporary folder"));
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = parent / (std::string(prefix) + random_text("abcdefghijklmnopqrstuvwxyz0123456789", 10));
    if (std::filesystem::create_directory(candidate, ec)) return candidate;
    if (ec) return fail(system_error(ec.value(), "failed to create directory " + candidate.string()));
  }
  return fail("failed to create a temporary directory in " + parent.string() + ": every name was taken");
}

// Moving and dropping are the same on every system; closing is each system's own.
ExclusiveFile::ExclusiveFile(ExclusiveFile&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }

ExclusiveFile& ExclusiveFile::operator=(ExclusiveFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = kNone;
  }
  return *this;
}

ExclusiveFile::~ExclusiveFile() { close(); }

}  // namespace vesk
