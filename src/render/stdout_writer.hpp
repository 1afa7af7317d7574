#pragma once
// Whole-text writes to standard output, flushed at once so that a closed or full standard
// output surfaces as an error of the command instead of being lost in a buffer at exit.

#include <string_view>

#include "base/error.hpp"

namespace vesk {

// Writes every byte of `text` to standard output, then flushes it.
Status write_stdout(std::string_view text);

}  // namespace vesk
