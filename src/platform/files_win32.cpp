// Files on Windows: wide-character paths, FlushFileBuffers, MoveFileExW.

#include <windows.h>

#include <array>

#include "platform/files.hpp"
#include "platform/windows_error.hpp"

namespace vesk {

namespace {

HANDLE as_handle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

// Other processes may read, replace and delete a file while we hold it, as on POSIX.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

Status write_whole(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD most = bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), most, &written, nullptr)) return fail(last_windows_error());
    if (written == 0) return fail("failed to write whole buffer");
    bytes.remove_prefix(written);
  }
  return {};
}

// Writes the bytes to a new file (the data directory's permissions apply) and flushes them.
Status write_durably(const std::filesystem::path& path, std::string_view bytes) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
  if (file == INVALID_HANDLE_VALUE) return fail(last_windows_error());
  Status written = write_whole(file, bytes);
  if (written && !::FlushFileBuffers(file)) written = fail(last_windows_error());
  ::CloseHandle(file);
  if (!written) ::DeleteFileW(path.c_str());
  return written;
}

bool names_a_directory(const std::filesystem::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool same_file(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION first{};
  BY_HANDLE_FILE_INFORMATION second{};
  return ::GetFileInformationByHandle(a, &first) && ::GetFileInformationByHandle(b, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

// Renames `from` over `to`. Windows refuses to replace a file that a reader has open at
// that moment (another vesk reading the state file); readers hold it only while they
// read it, so the rename is retried for a while before it counts as failed.
bool replace_file(const std::filesystem::path& from, const std::filesystem::path& to) {
  constexpr int kAttempts = 300;  // 10 ms apart: three seconds
  for (int attempt = 1;; ++attempt) {
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD error = ::GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt == kAttempts) {
      ::SetLastError(error);
      return false;
    }
    ::Sleep(10);
  }
}

template <class Bytes>
Result<Bytes> read_all(const std::filesystem::path& path) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    const Error error = windows_error(code);
    // Windows refuses to open a directory as a file with "Access is denied", which sends
    // the user looking for a permission problem; say what is wrong, as POSIX systems do.
    if (names_a_directory(path)) return fail("Is a directory (os error " + std::to_string(code) + ")");
    return fail(error);
  }
  Bytes bytes;
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file, &size) && size.QuadPart > 0) bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  std::array<char, 1 << 16> chunk{};
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr)) {
      const Error error = last_windows_error();
      ::CloseHandle(file);
      return fail(error);
    }
    if (got == 0) break;
    bytes.insert(bytes.end(), chunk.data(), chunk.data() + got);
  }
  ::CloseHandle(file);
  return bytes;
}

}  // namespace

Result<std::string> read_whole_file(const std::filesystem::path& path) { return read_all<std::string>(path); }

Result<std::vector<std::uint8_t>> read_whole_file_bytes(const std::filesystem::path& path) {
  return read_all<std::vector<std::uint8_t>>(path);
}

Status append_to_file(const std::filesystem::path& path, std::string_view bytes) {
  // Opened for appending only, every write goes to the end of the file as one piece.
  const HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, kShareAll, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return fail(last_windows_error("failed to open " + path.string()));
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  const Error error = last_windows_error("failed to write " + path.string());
  ::CloseHandle(file);
  if (!ok) return fail(error);
  if (written != bytes.size()) return fail("failed to write whole buffer to " + path.string());
  return {};
}

Status create_private_directories(const std::filesystem::path& directory) {
  // A new directory under the user's profile (LOCALAPPDATA) inherits an access list that
  // admits only the user, the system and administrators.
  if (directory.empty()) return {};
  if (::GetFileAttributesW(directory.c_str()) != INVALID_FILE_ATTRIBUTES) return {};
  if (directory.has_parent_path() && directory.parent_path() != directory) {
    if (auto parent = create_private_directories(directory.parent_path()); !parent) return parent;
  }
  if (!::CreateDirectoryW(directory.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return fail(last_windows_error("failed to create directory " + directory.string()));
  }
  return {};
}

Status write_file_atomically(const std::filesystem::path& path, std::string_view bytes) {
  const auto temporary = temporary_path_beside(path);
  if (auto written = write_durably(temporary, bytes); !written) {
    return fail(std::move(written.error()).wrap("failed to write " + temporary.string()));
  }
  if (!replace_file(temporary, path)) {
    const Error error = last_windows_error("failed to replace " + path.string());
    ::DeleteFileW(temporary.c_str());
    return fail(error);
  }
  return {};
}

void ExclusiveFile::close() {
  if (valid()) ::CloseHandle(as_handle(handle_));
  handle_ = kNone;
}

Status ExclusiveFile::remove_if_ours(const std::filesystem::path& path) {
  if (!valid()) return {};
  Status removed = {};
  const HANDLE at_path =
      ::CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (at_path != INVALID_HANDLE_VALUE) {
    const bool still_ours = same_file(as_handle(handle_), at_path);
    ::CloseHandle(at_path);
    if (still_ours && !::DeleteFileW(path.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
      removed = fail(last_windows_error());
    }
  }
  close();
  return removed;
}

Result<std::optional<ExclusiveFile>> create_exclusive_file(const std::filesystem::path& path) {
  const HANDLE file =
      ::CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    return std::optional<ExclusiveFile>(ExclusiveFile(reinterpret_cast<std::intptr_t>(file)));
  }
  if (::GetLastError() == ERROR_FILE_EXISTS) return std::optional<ExclusiveFile>();
  return fail(last_windows_error());
}

Status remove_file(const std::filesystem::path& path) {
  // A file that another process holds open stays under its name until that handle closes,
  // and its name cannot be taken again until then. Renamed aside first, the name is free
  // at once (as on POSIX systems); the renamed file goes when its last holder closes it.
  const auto aside = temporary_path_beside(path).concat(".removed");
  if (!::MoveFileExW(path.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return {};
    // Not renamable (another volume's temporary name, a file opened without sharing its
    // deletion): delete it where it is.
    if (!::DeleteFileW(path.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) return fail(last_windows_error());
    return {};
  }
  if (!::DeleteFileW(aside.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) return fail(last_windows_error());
  return {};
}

}  // namespace vesk
