#include "platform/program_lookup.hpp"

namespace vesk {

namespace {

std::optional<std::filesystem::path> find_in(const std::filesystem::path& dir,
                                             const std::vector<std::string>& file_names) {
  for (const auto& file_name : file_names) {
    auto candidate = dir.empty() ? std::filesystem::path(file_name) : dir / file_name;
    if (is_executable_file(candidate)) return candidate;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::filesystem::path> find_program(std::string_view name,
                                                  const std::filesystem::path& executable_dir,
                                                  std::string_view path_list) {
  if (name.empty()) return std::nullopt;
  if (names_a_path(name)) return std::filesystem::path(name);

  const auto file_names = program_file_names(name);
  if (!executable_dir.empty()) {
    if (auto beside_us = find_in(executable_dir, file_names)) return beside_us;
  }
  const char separator = path_list_separator();
  while (true) {
    const auto end = path_list.find(separator);
    if (auto found = find_in(std::filesystem::path(path_list.substr(0, end)), file_names)) return found;
    if (end == std::string_view::npos) break;
    path_list.remove_prefix(end + 1);
  }
  return std::nullopt;
}

}  // namespace vesk
