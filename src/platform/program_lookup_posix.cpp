#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/program_lookup.hpp"

namespace vesk {

std::string program_search_path() {
  if (const char* path = std::getenv("PATH")) return path;
  std::string fallback(::confstr(_CS_PATH, nullptr, 0), '\0');
  ::confstr(_CS_PATH, fallback.data(), fallback.size());
  if (!fallback.empty()) fallback.pop_back();  // the terminating NUL
  return fallback;
}

char path_list_separator() { return ':'; }

bool names_a_path(std::string_view name) { return name.find('/') != std::string_view::npos; }

std::vector<std::string> program_file_names(std::string_view name) { return {std::string(name)}; }

bool is_executable_file(const std::filesystem::path& candidate) {
  struct stat info {};
  if (::stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  return ::access(candidate.c_str(), X_OK) == 0;
}

}  // namespace vesk
