#pragma once
// Recorded requests as a HAR 1.2 log ({"log": {"version": "1.2", "creator", "pages",
// "entries"}}), the archive format other tools read, and the atomic file write the
// network methods use for what they save.

#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.hpp"
#include "browser/trackers/network.hpp"

namespace vesk::browser {

struct HarPage {
  std::string id = "page_1";
  std::string title;      // the page's URL or title
  double wall_time = 0;   // when the recording started, seconds since the epoch
};

// A response body for the log: the text as Chromium gave it, base64 for binary bodies.
struct HarBody {
  std::string text;
  bool base64 = false;
};
// The body of a record, or nullopt to leave it out (unavailable, or past a size bound).
using HarBodyReader = std::function<std::optional<HarBody>(const RequestRecord&)>;

Json har_log(const HarPage& page, const std::vector<RequestRecord>& records,
             const HarBodyReader& body_of = nullptr);

// "2026-12-10T23:58:52.123Z" for seconds since the epoch.
std::string iso_time(double seconds_since_epoch);

// Writes `bytes` to a temporary file beside `path`, flushes it and renames it over `path`,
// so a reader sees the old file or the whole new one. The error says what failed.
std::expected<void, std::string> write_file_atomically(const std::filesystem::path& path, std::string_view bytes);

}  // namespace vesk::browser
