#include "browser/methods/network_har.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "base/timestamp.hpp"

namespace vesk::browser {

namespace {

// Chromium joins repeated headers with "\n"; HAR lists each value.
Json har_headers(const Json& headers) {
  Json out = Json::array();
  if (!headers.is_object()) return out;
  for (const auto& [name, value] : headers.items()) {
    const std::string text = value.is_string() ? value.get<std::string>() : value.dump();
    std::size_t from = 0;
    for (;;) {
      const std::size_t end = text.find('\n', from);
      out.push_back({{"name", name}, {"value", text.substr(from, end - from)}});
      if (end == std::string::npos) break;
      from = end + 1;
    }
  }
  return out;
}

// The value of a header, its name in any case ("" when absent).
std::string header_value(const Json& headers, std::string_view name) {
  if (!headers.is_object()) return "";
  for (const auto& [key, value] : headers.items()) {
    if (key.size() == name.size() &&
        std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
      return value.is_string() ? value.get<std::string>() : "";
    }
  }
  return "";
}

std::string trimmed(std::string text) {
  text.erase(0, text.find_first_not_of(" \t"));
  text.erase(text.find_last_not_of(" \t") + 1);
  return text;
}

// "a=1; b=2" (a Cookie header), or one Set-Cookie line per cookie ("a=1; Path=/" keeps a=1).
Json har_cookies(const std::string& header, bool set_cookie) {
  Json out = Json::array();
  std::size_t from = 0;
  while (from < header.size()) {
    const std::size_t end = std::min(header.find(set_cookie ? '\n' : ';', from), header.size());
    std::string pair = header.substr(from, end - from);
    if (set_cookie) pair = pair.substr(0, pair.find(';'));
    pair = trimmed(pair);
    if (!pair.empty()) {
      const std::size_t eq = pair.find('=');
      out.push_back({{"name", trimmed(pair.substr(0, eq))},
                     {"value", eq == std::string::npos ? std::string() : trimmed(pair.substr(eq + 1))}});
    }
    from = end + 1;
  }
  return out;
}

// The query of a URL as name/value pairs, left as they are written (HAR keeps them so).
Json query_string(const std::string& url) {
  Json out = Json::array();
  const std::size_t question = url.find('?');
  if (question == std::string::npos) return out;
  const std::size_t end = std::min(url.find('#', question), url.size());
  std::size_t from = question + 1;
  while (from < end) {
    std::size_t amp = std::min(url.find('&', from), end);
    const std::string pair = url.substr(from, amp - from);
    if (!pair.empty()) {
      const std::size_t eq = pair.find('=');
      out.push_back({{"name", pair.substr(0, eq)},
                     {"value", eq == std::string::npos ? std::string() : pair.substr(eq + 1)}});
    }
    from = amp + 1;
  }
  return out;
}

std::string http_version(const std::string& protocol) {
  if (protocol.empty()) return "";
  if (protocol == "h2") return "HTTP/2";
  if (protocol == "h3") return "HTTP/3";
  std::string upper = protocol;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  return upper;
}

double timing_value(const Json& timing, const char* key) {
  auto it = timing.find(key);
  return it != timing.end() && it->is_number() ? it->get<double>() : -1;
}

// HAR's phases from Chromium's ResourceTiming (milliseconds after its requestTime).
// send, wait and receive are never negative; the others are -1 when they did not happen.
Json har_timings(const RequestRecord& record, double total_ms) {
  const Json& timing = record.timing;
  if (!timing.is_object()) {
    return {{"blocked", -1}, {"dns", -1}, {"connect", -1}, {"ssl", -1},
            {"send", 0}, {"wait", std::max(0.0, total_ms)}, {"receive", 0}};
  }
  const double offset = std::max(0.0, (timing_value(timing, "requestTime") - record.started) * 1000);
  auto span = [&](const char* start, const char* end) {
    const double s = timing_value(timing, start);
    return s < 0 ? -1.0 : std::max(0.0, timing_value(timing, end) - s);
  };
  const double dns_start = timing_value(timing, "dnsStart");
  const double connect_start = timing_value(timing, "connectStart");
  const double send_start = std::max(0.0, timing_value(timing, "sendStart"));
  const double send_end = std::max(send_start, timing_value(timing, "sendEnd"));
  const double headers_end = std::max(send_end, timing_value(timing, "receiveHeadersEnd"));
  const double first = dns_start >= 0 ? dns_start : connect_start >= 0 ? connect_start : send_start;
  return {{"blocked", offset + first},
          {"dns", span("dnsStart", "dnsEnd")},
          {"connect", span("connectStart", "connectEnd")},
          {"ssl", span("sslStart", "sslEnd")},
          {"send", send_end - send_start},
          {"wait", headers_end - send_end},
          {"receive", std::max(0.0, total_ms - offset - headers_end)}};
}

Json har_entry(const std::string& page_id, const RequestRecord& record, const HarBodyReader& body_of) {
  const double total_ms = record.ended >= 0 ? std::max(0.0, (record.ended - record.started) * 1000) : 0;
  Json timings = har_timings(record, total_ms);
  double time = 0;
  for (const char* phase : {"blocked", "dns", "connect", "send", "wait", "receive"}) {
    time += std::max(0.0, timings[phase].get<double>());
  }
  Json request = {{"method", record.method},
                  {"url", record.url},
                  {"httpVersion", http_version(record.protocol)},
                  {"cookies", har_cookies(header_value(record.request_headers, "Cookie"), false)},
                  {"headers", har_headers(record.request_headers)},
                  {"queryString", query_string(record.url)},
                  {"headersSize", -1},
                  {"bodySize", record.post_data ? static_cast<std::int64_t>(record.post_data->size()) : 0}};
  if (record.post_data) {
    request["postData"] = {{"mimeType", header_value(record.request_headers, "Content-Type")},
                           {"text", *record.post_data}};
  }
  std::string redirect = record.redirect_to;
  Json response = {{"status", record.status},
                   {"statusText", record.status_text},
                   {"httpVersion", http_version(record.protocol)},
                   {"cookies", har_cookies(header_value(record.response_headers, "Set-Cookie"), true)},
                   {"headers", har_headers(record.response_headers)},
                   {"content", {{"size", record.body_bytes}, {"mimeType", record.mime_type}}},
                   {"redirectURL", redirect},
                   {"headersSize", -1},
                   {"bodySize", record.finished ? record.body_bytes : -1}};
  if (body_of) {
    if (auto body = body_of(record)) {
      Json& content = response["content"];
      content["text"] = std::move(body->text);
      if (body->base64) content["encoding"] = "base64";
    }
  }
  Json entry = {{"pageref", page_id},
                {"startedDateTime", iso_time(record.wall_time)},
                {"time", time},
                {"request", std::move(request)},
                {"response", std::move(response)},
                {"cache", Json::object()},
                {"timings", std::move(timings)},
                {"_resourceType", record.type}};
  if (!record.remote_address.empty()) entry["serverIPAddress"] = record.remote_address;
  if (!record.failure.empty()) entry["_error"] = record.failure;
  if (!record.routed.empty()) entry["_routed"] = record.routed;
  return entry;
}

}  // namespace

std::string iso_time(double seconds_since_epoch) {
  using namespace std::chrono;
  const auto millis = static_cast<std::int64_t>(seconds_since_epoch * 1000);
  return format_timestamp(system_clock::time_point(duration_cast<system_clock::duration>(milliseconds(millis))));
}

Json har_log(const HarPage& page, const std::vector<RequestRecord>& records, const HarBodyReader& body_of) {
  Json entries = Json::array();
  for (const auto& record : records) entries.push_back(har_entry(page.id, record, body_of));
  Json pages = Json::array();
  pages.push_back({{"startedDateTime", iso_time(page.wall_time)},
                   {"id", page.id},
                   {"title", page.title},
                   {"pageTimings", {{"onContentLoad", -1}, {"onLoad", -1}}}});
  return {{"log",
           {{"version", "1.2"},
            {"creator", {{"name", "vesk"}, {"version", "1"}}},
            {"pages", std::move(pages)},
            {"entries", std::move(entries)}}}};
}

std::expected<void, std::string> write_file_atomically(const std::filesystem::path& path, std::string_view bytes) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  if (ec) return std::unexpected("cannot create its folder (" + ec.message() + ")");
  const fs::path temporary = path.string() + ".tmp-" + std::to_string(::getpid());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return std::unexpected(std::string("cannot open it for writing (") + std::strerror(errno) + ")");
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string why = std::strerror(errno);
      ::close(fd);
      fs::remove(temporary, ec);
      return std::unexpected("the write did not complete (" + why + ")");
    }
    written += static_cast<std::size_t>(n);
  }
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  if (!synced) {
    fs::remove(temporary, ec);
    return std::unexpected("the data could not be flushed to disk");
  }
  fs::rename(temporary, path, ec);
  if (ec) {
    const std::string why = ec.message();
    fs::remove(temporary, ec);
    return std::unexpected("cannot rename the finished file into place (" + why + ")");
  }
  return {};
}

}  // namespace vesk::browser
