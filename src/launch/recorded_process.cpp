#include "launch/recorded_process.hpp"

#include <cctype>
#include <charconv>

#include "platform/program_lookup.hpp"

namespace vesk {

namespace {

// Reads exactly `width` decimal digits at `pos`.
std::optional<int> digits(std::string_view text, std::size_t pos, std::size_t width) {
  if (pos + width > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = pos; i < pos + width; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Two paths name the same executable. A binary replaced while running shows as
// "<path> (deleted)" in /proc; it is still the program that was started.
bool same_executable(std::filesystem::path running, const std::filesystem::path& expected) {
  constexpr std::string_view kDeleted = " (deleted)";
  auto text = running.string();
  if (text.ends_with(kDeleted)) running = text.substr(0, text.size() - kDeleted.size());
  std::error_code ec;
  if (std::filesystem::equivalent(running, expected, ec)) return true;
  return std::filesystem::weakly_canonical(expected, ec) == running;
}

}  // namespace

std::optional<std::chrono::system_clock::time_point> parse_utc_timestamp(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SS[.fraction]Z
  if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text.back() != 'Z') {
    return std::nullopt;
  }
  auto year = digits(text, 0, 4);
  auto month = digits(text, 5, 2);
  auto day = digits(text, 8, 2);
  auto hour = digits(text, 11, 2);
  auto minute = digits(text, 14, 2);
  auto second = digits(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 60) {
    return std::nullopt;
  }
  using namespace std::chrono;
  const year_month_day date{std::chrono::year(*year), std::chrono::month(static_cast<unsigned>(*month)),
                            std::chrono::day(static_cast<unsigned>(*day))};
  if (!date.ok()) return std::nullopt;

  nanoseconds fraction{0};
  const auto rest = text.substr(19, text.size() - 20);
  if (!rest.empty()) {
    if (rest.size() < 2 || rest.size() > 10 || rest[0] != '.') return std::nullopt;
    auto value = digits(rest, 1, rest.size() - 1);
    if (!value) return std::nullopt;
    long long scaled = *value;
    for (auto i = rest.size() - 1; i < 9; ++i) scaled *= 10;
    fraction = nanoseconds(scaled);
  }
  const auto time = sys_days(date) + hours(*hour) + minutes(*minute) + seconds(*second) + fraction;
  return time_point_cast<system_clock::duration>(time);
}

std::optional<std::filesystem::path> resolve_executable(std::string_view program) {
  std::filesystem::path executable_dir;
  if (auto self = current_executable_path()) executable_dir = self->parent_path();
  return find_program(program, executable_dir, program_search_path());
}

RecordedProcess recorded_process_of(const InstanceRecord& instance) {
  RecordedProcess recorded{instance.pid.value_or(0), instance.created_at, std::nullopt};
  if (instance.browser_binary) recorded.executable = resolve_executable(*instance.browser_binary);
  return recorded;
}

bool is_recorded_process(const RecordedProcess& recorded) {
  if (recorded.pid == current_pid() || !process_is_alive(recorded.pid)) return false;
  if (auto recorded_at = parse_utc_timestamp(recorded.recorded_at)) {
    auto started = process_start_time(recorded.pid);
    if (started && *started <= *recorded_at + kRecordedStartSlack) return true;
  }
  if (recorded.executable) {
    auto running = process_image_path(recorded.pid);
    if (running && same_executable(*running, *recorded.executable)) return true;
  }
  return false;
}

}  // namespace vesk
