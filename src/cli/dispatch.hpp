#pragma once
// Runs the one handler that the chosen command word calls for.

#include "base/error.hpp"
#include "base/paths.hpp"
#include "language/command.hpp"

namespace vesk::cli {

// Calls exactly one handler with the paths and the command's record and returns its
// outcome; it prints nothing of its own.
Status dispatch(const Cli& cli, const AppPaths& paths);

}  // namespace vesk::cli
