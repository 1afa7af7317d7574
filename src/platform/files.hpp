#pragma once
// Files the way vesk keeps them: whole-file reads, user-only directories, atomic
// replacement, and a lock file created exclusively.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"

namespace vesk {

// The whole file. A missing file fails with kind NotFound.
Result<std::string> read_whole_file(const std::filesystem::path& path);
// The same as bytes (what a JSON binary value holds).
Result<std::vector<std::uint8_t>> read_whole_file_bytes(const std::filesystem::path& path);

// Creates `directory` and its missing ancestors, each readable by its owner only (the data
// directory holds the browsers' tokens). An existing directory is left as it is.
Status create_private_directories(const std::filesystem::path& directory);

// The temporary file write_file_atomically uses for `path` from this thread: unique per
// process and thread, so that threads writing the same file at once never share one.
std::filesystem::path temporary_path_beside(const std::filesystem::path& path);

// Replaces `path` by a user-only file holding `bytes` so that readers see the old file or
// the new one, never a part: written to temporary_path_beside(path), forced to disk, then
// renamed over `path`. The folder must exist. On failure the temporary file is removed,
// `path` is unchanged and the error says which step failed ("failed to write <temporary>:
// No space left ...").
Status write_file_atomically(const std::filesystem::path& path, std::string_view bytes);

// Appends `bytes` to `path` in one write (the file is created user-only if missing), so
// that lines appended by several processes at once stay whole.
Status append_to_file(const std::filesystem::path& path, std::string_view bytes);

// A file this process created exclusively and holds open; closed on destruction.
class ExclusiveFile {
 public:
  ExclusiveFile() = default;
  ExclusiveFile(ExclusiveFile&& other) noexcept;
  ExclusiveFile& operator=(ExclusiveFile&& other) noexcept;
  ExclusiveFile(const ExclusiveFile&) = delete;
  ExclusiveFile& operator=(const ExclusiveFile&) = delete;
  ~ExclusiveFile();

  [[nodiscard]] bool valid() const { return handle_ != kNone; }
  // Deletes the file if `path` still names the file we created (not one that replaced it
  // after a takeover), then closes it. A file already gone is fine.
  Status remove_if_ours(const std::filesystem::path& path);
  void close();

 private:
  friend Result<std::optional<ExclusiveFile>> create_exclusive_file(const std::filesystem::path& path);
  static constexpr std::intptr_t kNone = -1;
  explicit ExclusiveFile(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = kNone;  // the system's descriptor or handle
};

// Creates `path` (user-only) if nothing is there; nullopt when a file already exists.
Result<std::optional<ExclusiveFile>> create_exclusive_file(const std::filesystem::path& path);

// Deletes a file; a file already gone is fine.
Status remove_file(const std::filesystem::path& path);

// A new, empty directory under the system's temporary folder, named `prefix` and random
// characters.
Result<std::filesystem::path> create_temporary_directory(std::string_view prefix);

}  // namespace vesk
