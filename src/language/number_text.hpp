#pragma once
// Strict number syntax for command-line values: what a user writes, not what a C library
// happens to accept. No white space, no hexadecimal or octal, no trailing junk.

#include <cstdint>
#include <optional>
#include <string_view>

namespace vesk::cli {

// An optional "+", then one or more decimal digits, with a value of at most `max`
// ("010" is ten). Anything else, including "-0", is nullopt.
std::optional<std::uint64_t> parse_unsigned_decimal(std::string_view text, std::uint64_t max);

// A decimal floating-point number: optional sign, digits with an optional fraction (or
// a fraction alone), optional exponent; or "inf", "infinity", "nan" in any letter case,
// optionally signed. Too large a magnitude gives an infinity, too small one zero.
std::optional<double> parse_decimal_float(std::string_view text);

}  // namespace vesk::cli
