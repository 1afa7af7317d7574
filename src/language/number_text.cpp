#include "language/number_text.hpp"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace vesk::cli {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  }
  return true;
}

// Skips a run of digits starting at `pos`; returns how many there were.
std::size_t skip_digits(std::string_view text, std::size_t& pos) {
  const std::size_t start = pos;
  while (pos < text.size() && is_digit(text[pos])) ++pos;
  return pos - start;
}

// The decimal form: digits[.digits] or .digits, then an optional exponent.
bool is_decimal_form(std::string_view text) {
  std::size_t pos = 0;
  std::size_t mantissa_digits = skip_digits(text, pos);
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    mantissa_digits += skip_digits(text, pos);
  }
  if (mantissa_digits == 0) return false;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
    if (skip_digits(text, pos) == 0) return false;
  }
  return pos == text.size();
}

}  // namespace

std::optional<std::uint64_t> parse_unsigned_decimal(std::string_view text, std::uint64_t max) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (!is_digit(c)) return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (digit > max || value > (max - digit) / 10) return std::nullopt;  // value * 10 + digit > max
    value = value * 10 + digit;
  }
  return value;
}

std::optional<double> parse_decimal_float(std::string_view text) {
  bool negative = false;
  std::string_view body = text;
  if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
    negative = body.front() == '-';
    body.remove_prefix(1);
  }
  if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
    const double inf = std::numeric_limits<double>::infinity();
    return negative ? -inf : inf;
  }
  if (equals_ignoring_case(body, "nan")) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    return negative ? -nan : nan;
  }
  if (!is_decimal_form(body)) return std::nullopt;
  // The syntax is checked above, so strtod sees only plain decimal text; it rounds
  // correctly and gives an infinity or zero outside the range of double. The program
  // never changes its locale, so the decimal point is ".".
  const std::string copy(text);
  return std::strtod(copy.c_str(), nullptr);
}

}  // namespace vesk::cli
