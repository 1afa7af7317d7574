#include "base/timestamp.hpp"

#include <gtest/gtest.h>

namespace vesk {
namespace {

using namespace std::chrono;

TEST(Timestamp, FractionIsTrimmedAndOmittedWhenZero) {
  const sys_days day = 2025y / March / 1;
  const auto base = sys_time<nanoseconds>(day) + 9h + 15min + 2s;
  struct Case {
    nanoseconds offset;
    const char* expected;
  } cases[] = {
      {0ns, "2025-03-01T09:15:02Z"},
      {500ms, "2025-03-01T09:15:02.5Z"},
      {120us, "2025-03-01T09:15:02.00012Z"},
      {123456700ns, "2025-03-01T09:15:02.1234567Z"},
      {1ns, "2025-03-01T09:15:02.000000001Z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(format_timestamp(time_point_cast<system_clock::duration>(base + c.offset)),
              c.expected);
  }
}

}  // namespace
}  // namespace vesk
