#pragma once
// The word scan: the first pass over the command line, before CLI11 sees it. It walks the
// command tree word by word and decides what each word is (a command word, an option, an
// option's value, "--", a positional, a list word), which CLI11 cannot do by our rules:
// values beginning with "-" are options unless attached with "=" or a list allows them;
// the word lists of the list commands; flags given values; repeated arguments; -v counted
// per level; -h/--help and the word "help" anywhere; suggestions for unknown words.
//
// What it hands on is an equivalent line in a form CLI11 reads unambiguously (every option
// value attached with "=", positionals after "--"), plus the list words it filled itself.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "language/grammar.hpp"

namespace vesk::cli {

struct ScannedLine {
  std::vector<const CLI::App*> chain;     // the program, then each command word's app
  std::vector<std::string> cli11_words;   // the line as CLI11 should read it
  std::optional<std::string> selector;    // options-first commands
  std::vector<std::string> list;          // options-first and trailing lists
  std::uint8_t verbose = 0;               // -v count of the deepest level that has one
};

struct ScanHelp {
  const CLI::App* app;  // whose help was asked for
};

struct ScanError {
  const CLI::App* app;  // the command whose usage goes with the error
  std::string message;  // names the word and why; may end with a suggestion line
};

using ScanOutcome = std::variant<ScannedLine, ScanHelp, ScanError>;

ScanOutcome scan_words(const Grammar& grammar, const std::vector<std::string>& words);

}  // namespace vesk::cli
