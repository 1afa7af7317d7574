#pragma once
// Parsing the command line: a pure function from the argument words to the parsed
// command, a usage error or a help request. Nothing is printed here; the entry point
// writes the texts and picks the exit status.

#include <string>
#include <variant>
#include <vector>

#include "language/command.hpp"

namespace vesk::cli {

// The line was not accepted; `text` goes to standard error (exit status 2). It names the
// offending word, shows the usage line of the command concerned, suggests the most
// similar known word where one is close, and ends with a newline.
struct UsageError {
  std::string text;
};

// -h/--help or the word "help"; `text` is the usage of the command asked about, for
// standard output (exit status 0).
struct HelpRequest {
  std::string text;
};

using ParseOutcome = std::variant<Cli, UsageError, HelpRequest>;

// `words` excludes the program name.
ParseOutcome parse_command_line(const std::vector<std::string>& words);

}  // namespace vesk::cli
