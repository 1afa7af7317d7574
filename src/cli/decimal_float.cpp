#include "cli/decimal_float.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace vesk::cli {

namespace {

bool equals_ignoring_case(std::string_view word, std::string_view lower) {
  if (word.size() != lower.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    char c = word[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

bool is_decimal_number(std::string_view digits) {
  // digits [. digits] [e [sign] digits], with at least one digit before the exponent.
  size_t i = 0;
  size_t mantissa_digits = 0;
  while (i < digits.size() && digits[i] >= '0' && digits[i] <= '9') ++i, ++mantissa_digits;
  if (i < digits.size() && digits[i] == '.') {
    ++i;
    while (i < digits.size() && digits[i] >= '0' && digits[i] <= '9') ++i, ++mantissa_digits;
  }
  if (mantissa_digits == 0) return false;
  if (i < digits.size() && (digits[i] == 'e' || digits[i] == 'E')) {
    ++i;
    if (i < digits.size() && (digits[i] == '+' || digits[i] == '-')) ++i;
    size_t exponent_digits = 0;
    while (i < digits.size() && digits[i] >= '0' && digits[i] <= '9') ++i, ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  return i == digits.size();
}

}  // namespace

std::optional<double> parse_decimal_float(std::string_view word) {
  bool negative = false;
  if (!word.empty() && (word.front() == '+' || word.front() == '-')) {
    negative = word.front() == '-';
    word.remove_prefix(1);
  }
  const double sign = negative ? -1.0 : 1.0;
  if (equals_ignoring_case(word, "inf") || equals_ignoring_case(word, "infinity")) {
    return sign * std::numeric_limits<double>::infinity();
  }
  if (equals_ignoring_case(word, "nan")) return std::numeric_limits<double>::quiet_NaN();
  if (!is_decimal_number(word)) return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error == std::errc::result_out_of_range) {
    // Too large becomes infinity, too small becomes zero, as a float literal would.
    const std::string text(word);
    return sign * std::strtod(text.c_str(), nullptr);
  }
  if (error != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return sign * value;
}

}  // namespace vesk::cli
