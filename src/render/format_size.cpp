#include <array>
#include <charconv>
#include <string>

#include "render/render.hpp"

namespace vesk {

namespace {

std::string fixed_text(double value, int decimals) {
  // Wide enough for the largest double in fixed notation.
  std::array<char, 400> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::fixed, decimals);
  return std::string(buffer.data(), result.ptr);
}

}  // namespace

std::string format_size(const Json& number) {
  double value = number.is_number() ? number.get<double>() : 0.0;
  if (!(value > 0.0)) value = 0.0;  // also catches NaN
  if (value < 1024.0) return fixed_text(value, 0) + " B";
  static constexpr std::array<const char*, 4> kUnits = {"KiB", "MiB", "GiB", "TiB"};
  value /= 1024.0;
  size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < kUnits.size()) {
    value /= 1024.0;
    ++unit;
  }
  return fixed_text(value, 2) + " " + kUnits[unit];
}

}  // namespace vesk
