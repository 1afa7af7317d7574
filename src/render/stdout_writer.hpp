#pragma once
// Whole-text writes to standard output. Results go out with write(2) so that a closed or
// full standard output surfaces as an error of the command instead of being lost in a
// stdio buffer.

#include <string_view>

#include "base/error.hpp"

namespace vesk {

// Writes every byte of `text` to standard output, retrying short writes and EINTR.
Status write_stdout(std::string_view text);

}  // namespace vesk
