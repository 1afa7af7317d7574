#pragma once
// RFC 3339 timestamps in UTC: "2025-03-01T09:15:02.1234567Z". The fraction is the
// nanoseconds with trailing zeros removed, and absent when zero. A time whose year lies
// outside 0..9999 is written as "1970-01-01T00:00:00Z". Used by log lines and by the
// time stamps of the state file.

#include <chrono>
#include <string>

namespace vesk {

std::string format_timestamp(std::chrono::system_clock::time_point time);
// The current wall-clock time, formatted as above. Never fails.
std::string utc_timestamp();

}  // namespace vesk
