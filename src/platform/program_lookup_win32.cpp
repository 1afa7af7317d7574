#include <windows.h>

#include "base/paths.hpp"
#include "platform/program_lookup.hpp"

namespace vesk {

std::string program_search_path() {
  if (auto path = process_env("PATH")) return *path;
  return "C:\\Windows\\system32;C:\\Windows";
}

char path_list_separator() { return ';'; }

bool names_a_path(std::string_view name) {
  return name.find_first_of("/\\") != std::string_view::npos ||
         (name.size() >= 2 && name[1] == ':');  // "C:name" is relative to a drive
}

std::vector<std::string> program_file_names(std::string_view name) {
  // A name that has an extension is taken as it is, as the command interpreter does.
  if (std::filesystem::path(name).has_extension()) return {std::string(name)};
  std::string extensions = process_env("PATHEXT").value_or(".COM;.EXE;.BAT;.CMD");
  std::vector<std::string> names;
  std::string_view rest = extensions;
  while (!rest.empty()) {
    const auto end = rest.find(';');
    const auto extension = rest.substr(0, end);
    if (!extension.empty()) names.push_back(std::string(name) + std::string(extension));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return names;
}

bool is_executable_file(const std::filesystem::path& candidate) {
  // Windows runs any file with an executable extension; what counts is that it is a file.
  const DWORD attributes = ::GetFileAttributesW(candidate.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace vesk
