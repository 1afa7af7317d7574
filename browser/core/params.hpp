#pragma once
// Reading the params the command line sends: "args" (the words after the command word;
// from the first word on every word is a value, "-" ones included), "selector", "tab" and
// the "options" object.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.hpp"
#include "browser/core/method_result.hpp"

namespace vesk::browser {

// The "args" words; non-strings are skipped.
std::vector<std::string> words_of(const Json& params);
// The words joined by single spaces ("1 + 2").
std::string joined_words(const Json& params, std::size_t from = 0);
// Words joined by single spaces.
std::string joined(const std::vector<std::string>& words);
// params[key] when it is a string.
std::optional<std::string> string_member(const Json& params, std::string_view key);
// params["options"][key] as a boolean (false when absent or not a boolean).
bool option_flag(const Json& params, std::string_view key);
std::optional<std::string> option_string(const Json& params, std::string_view key);
std::optional<double> option_number(const Json& params, std::string_view key);
// A decimal number word ("250", "-3.5").
std::optional<double> parse_number(std::string_view text);

// The action options whose values are fixed ("dialogAction" is "accept" or "dismiss";
// "dialogText" a text; "x" and "y" numbers), checked before a method does anything: an
// option found bad after a click would leave the click done and a dialog open.
std::expected<void, MethodError> check_action_options(const Json& params);

}  // namespace vesk::browser
