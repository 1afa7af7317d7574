#include "base/timestamp.hpp"

#include <cstdio>

namespace vesk {

std::string format_timestamp(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto since_epoch = duration_cast<nanoseconds>(time.time_since_epoch());
  auto day = floor<days>(since_epoch);
  const year_month_day date{sys_days{day}};
  const int year = static_cast<int>(date.year());
  if (year < 0 || year > 9999) return "1970-01-01T00:00:00Z";
  auto in_day = since_epoch - day;
  const auto h = duration_cast<hours>(in_day);
  in_day -= h;
  const auto m = duration_cast<minutes>(in_day);
  in_day -= m;
  const auto s = duration_cast<seconds>(in_day);
  in_day -= s;
  const long long nanos = in_day.count();

  char text[64];
  int n = std::snprintf(text, sizeof text, "%04d-%02u-%02u T%02d:%02d:%02d", year,
                        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                        static_cast<int>(h.count()), static_cast<int>(m.count()),
                        static_cast<int>(s.count()));
  std::string out(text, static_cast<size_t>(n));
  out.erase(10, 1);  // the space only keeps the format string readable
  if (nanos != 0) {
    std::snprintf(text, sizeof text, ".%09lld", nanos);
    std::string fraction = text;
    while (fraction.back() == '0') fraction.pop_back();
    out += fraction;
  }
  out += 'Z';
  return out;
}

std::string utc_timestamp() { return format_timestamp(std::chrono::system_clock::now()); }

}  // namespace vesk
