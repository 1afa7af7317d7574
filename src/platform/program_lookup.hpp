#pragma once
// Finding the file a bare program name refers to. Kept apart from process start-up so
// the search order can be tested with directories a test owns.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vesk {

// A name containing "/" is used as given. A bare name is looked for first in
// `executable_dir` (programs shipped beside vesk, like veskbrowser, win over whatever
// PATH holds), then in each directory of `path_list` (":"-separated; an empty entry
// means the current directory, as the shell has it). Only executable regular files count.
std::optional<std::filesystem::path> find_program(std::string_view name,
                                                  const std::filesystem::path& executable_dir,
                                                  std::string_view path_list);

// $PATH, or the system's default search path when it is unset.
std::string program_search_path();

}  // namespace vesk
