#pragma once
// Writing whole files that must never be seen half-written and that may hold secrets (the
// state file with its tokens, a browser's saved cookies): the bytes go to a user-only
// temporary file beside the target, are flushed to disk, and the temporary file is renamed
// over the target. A reader sees the old file or the new one, never a mix; a crash or a
// full disk leaves the old file as it was.

#include <filesystem>
#include <string_view>

#include "base/error.hpp"

namespace vesk {

// Creates `directory` and its missing ancestors, each user-only (0700). An existing
// directory is left as it is.
Status create_private_directories(const std::filesystem::path& directory);

// The temporary file write_file_atomically uses for `path` from this thread: unique per
// process and thread, so that threads writing the same file at once never share one.
std::filesystem::path temporary_path_beside(const std::filesystem::path& path);

// Replaces `path` by a user-only (0600) file holding `bytes`, atomically. The folder must
// exist. Errors say which step failed ("failed to write <temporary>: No space left ...").
Status write_file_atomically(const std::filesystem::path& path, std::string_view bytes);

}  // namespace vesk
