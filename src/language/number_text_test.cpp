#include "language/number_text.hpp"

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace vesk::cli {
namespace {

TEST(UnsignedDecimal, AcceptsPlainDigitsUpToTheLimit) {
  const struct {
    std::string text;
    std::uint64_t max;
    std::optional<std::uint64_t> value;
  } cases[] = {
      {"0", 65535, 0},         {"65535", 65535, 65535}, {"65536", 65535, std::nullopt},
      {"010", 65535, 10},      {"+5", 65535, 5},         {"-0", 65535, std::nullopt},
      {"", 65535, std::nullopt}, {"+", 65535, std::nullopt}, {" 5", 65535, std::nullopt},
      {"5 ", 65535, std::nullopt}, {"0x10", 65535, std::nullopt}, {"1e3", 65535, std::nullopt},
      {"4294967295", 4294967295, 4294967295}, {"4294967296", 4294967295, std::nullopt},
      {"18446744073709551616", 4294967295, std::nullopt},
      {"99999999999999999999999", 4294967295, std::nullopt},
      {"18446744073709551615", std::numeric_limits<std::uint64_t>::max(),
       std::numeric_limits<std::uint64_t>::max()},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_unsigned_decimal(c.text, c.max), c.value) << "'" << c.text << "'";
  }
}

TEST(DecimalFloat, AcceptsTheUsualDecimalFormsAndNamedValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    std::string text;
    double value;
  } cases[] = {
      {"5", 5.0},        {"-5", -5.0},     {"+5", 5.0},      {"1.", 1.0},          {".5", 0.5},
      {"-2.5e1", -25.0}, {"1E+2", 100.0},  {"1e-2", 0.01},   {"inf", inf},         {"-INF", -inf},
      {"Infinity", inf}, {"1e400", inf},   {"-1e400", -inf}, {"1e-400", 0.0},
  };
  for (const auto& c : cases) {
    const auto parsed = parse_decimal_float(c.text);
    ASSERT_TRUE(parsed.has_value()) << c.text;
    EXPECT_EQ(*parsed, c.value) << c.text;
  }
  for (const std::string text : {"nan", "NaN", "-nan", "+NAN"}) {
    const auto parsed = parse_decimal_float(text);
    ASSERT_TRUE(parsed.has_value()) << text;
    EXPECT_TRUE(std::isnan(*parsed)) << text;
  }
}

TEST(DecimalFloat, RejectsEverythingElse) {
  for (const std::string text : {"", "-", ".", "e5", "1e", "1e+", "0x1p3", " 1", "1 ", "1,5", "nan(1)",
                                 "infinit", "--1", "1.2.3", "abc"}) {
    EXPECT_FALSE(parse_decimal_float(text).has_value()) << "'" << text << "'";
  }
}

}  // namespace
}  // namespace vesk::cli
