#pragma once
// Reading a word as a decimal floating-point number: an optional sign, digits with an
// optional fraction and exponent, or the words inf, infinity and nan in any letter case.
// Hexadecimal forms, white space and trailing characters are refused.

#include <optional>
#include <string_view>

namespace vesk::cli {

std::optional<double> parse_decimal_float(std::string_view word);

}  // namespace vesk::cli
