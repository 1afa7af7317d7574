#pragma once
// Splitting one command line into words as a POSIX shell would, without expanding
// anything: blanks separate words; 'single quotes' keep everything literally; "double
// quotes" keep everything except that a backslash escapes $ ` " \ and a newline; outside
// quotes a backslash keeps the next character literally. Used for the command lines of a
// batch ("quick"), which arrive as single strings.

#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"

namespace vesk::cli {

// The words, or an error naming the unterminated quote or trailing backslash.
Result<std::vector<std::string>> split_shell_words(std::string_view line);

}  // namespace vesk::cli
