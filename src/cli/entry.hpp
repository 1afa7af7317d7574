#pragma once
// The program entry: parse, set the verbosity, resolve the data paths, log them, run one
// handler and turn the outcome into the exit status (0 success or help, 1 failure,
// 2 usage error).

#include <string>
#include <vector>

namespace vesk::cli {

// `words` excludes the program name. Returns the process exit status.
int run_program(const std::vector<std::string>& words);

}  // namespace vesk::cli
