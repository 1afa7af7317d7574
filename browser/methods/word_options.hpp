#pragma once
// Reading the words of a raw command that mixes values and options ("set NAME VALUE
// --domain example.com --secure"): options are "--name VALUE", "--name=VALUE" or a bare
// "--flag"; every other word is a positional value, and so is every word after "--" (a value
// that begins with "--"). An option the command does not know is
// an "invalidArgument" that shows the command's accepted forms.

#include <expected>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "browser/core/method_result.hpp"

namespace vesk::browser {

struct KnownOptions {
  std::vector<std::string_view> with_value;  // "--domain", "--url", ...
  std::vector<std::string_view> flags;       // "--secure", ...
};

struct OptionWords {
  std::vector<std::string> positionals;
  std::map<std::string, std::string, std::less<>> values;  // "--domain" -> "example.com"
  std::set<std::string, std::less<>> flags;

  [[nodiscard]] std::optional<std::string> value(std::string_view name) const;
  [[nodiscard]] bool flag(std::string_view name) const { return flags.contains(name); }
};

// Reads words[from...]. `usage` ends the message of every error ("accepted: ...").
std::expected<OptionWords, MethodError> read_option_words(const std::vector<std::string>& words, std::size_t from,
                                                          const KnownOptions& known, std::string_view usage);

}  // namespace vesk::browser
