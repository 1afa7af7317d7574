#pragma once
// Finding the file a bare program name refers to. Kept apart from process start-up so
// the search order can be tested with directories a test owns.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

// A name with a directory in it ("/" anywhere; on Windows also "\" or a drive) is used as
// given. A bare name is looked for first in `executable_dir` (programs shipped beside vesk,
// like veskbrowser, win over whatever PATH holds), then in each directory of `path_list`
// (separated by path_list_separator(); an empty entry means the current directory, as the
// shell has it). Only executable regular files count; on Windows a name without an
// extension is tried with each extension of PATHEXT.
std::optional<std::filesystem::path> find_program(std::string_view name,
                                                  const std::filesystem::path& executable_dir,
                                                  std::string_view path_list);

// $PATH, or the system's default search path when it is unset.
std::string program_search_path();

// ":" on POSIX systems, ";" on Windows.
char path_list_separator();

// True when `name` names a file by a path rather than a program to search for.
bool names_a_path(std::string_view name);

// The file names a bare `name` may have on disk: the name itself on POSIX systems; on
// Windows the name with each PATHEXT extension, or the name alone when it has one.
std::vector<std::string> program_file_names(std::string_view name);

// True for a regular file this user may run.
bool is_executable_file(const std::filesystem::path& candidate);

}  // namespace vesk
