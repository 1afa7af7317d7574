// The command-line parser over any words (the input split at NUL bytes): it answers a
// command, a usage error or a help text, and never throws or crashes.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "language/parser.hpp"
#include "fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using vesk::fuzz::require;
  std::vector<std::string> words;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  while (!rest.empty()) {
    const auto end = rest.find('\0');
    words.emplace_back(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
  }
  if (words.size() > 64) return 0;  // long lines add nothing the grammar reads

  const auto outcome = vesk::cli::parse_command_line(words);
  if (const auto* error = std::get_if<vesk::cli::UsageError>(&outcome)) {
    require(!error->text.empty() && error->text.back() == '\n', "a usage error does not end in a newline",
            error->text);
  } else if (const auto* help = std::get_if<vesk::cli::HelpRequest>(&outcome)) {
    require(!help->text.empty(), "a help request has no text");
  }
  return 0;
}
