#include "platform/program_lookup.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace vesk {

namespace {

bool is_executable_file(const std::filesystem::path& candidate) {
  struct stat info {};
  if (::stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  return ::access(candidate.c_str(), X_OK) == 0;
}

}  // namespace

std::string program_search_path() {
  if (const char* path = std::getenv("PATH")) return path;
  std::string fallback(::confstr(_CS_PATH, nullptr, 0), '\0');
  ::confstr(_CS_PATH, fallback.data(), fallback.size());
  if (!fallback.empty()) fallback.pop_back();  // the terminating NUL
  return fallback;
}

std::optional<std::filesystem::path> find_program(std::string_view name,
                                                  const std::filesystem::path& executable_dir,
                                                  std::string_view path_list) {
  if (name.empty()) return std::nullopt;
  if (name.find('/') != std::string_view::npos) return std::filesystem::path(name);

  if (!executable_dir.empty()) {
    auto beside_us = executable_dir / name;
    if (is_executable_file(beside_us)) return beside_us;
  }
  while (true) {
    auto colon = path_list.find(':');
    auto dir = path_list.substr(0, colon);
    auto candidate = dir.empty() ? std::filesystem::path(name) : std::filesystem::path(dir) / name;
    if (is_executable_file(candidate)) return candidate;
    if (colon == std::string_view::npos) break;
    path_list.remove_prefix(colon + 1);
  }
  return std::nullopt;
}

}  // namespace vesk
