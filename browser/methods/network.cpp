// "network": the tab's requests, routes that answer requests from veskbrowser, offline
// mode and HAR recording. The words after the command word choose the action:
//   network [list] [--filter TEXT] [--type T,...] [--failed] [--clear]
//   network get ID [--out FILE]
//   network route PATTERN [--status N] [--body TEXT | --body-file FILE]
//                         [--content-type T] [--header "Name: value"]... | --abort
//   network routes  |  network unroute [PATTERN]  |  network offline on|off
//   network har start  |  network har stop FILE
// Files are named by absolute paths (the command line resolves them where it ran).
#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>

#include "browser/core/base64.hpp"
#include "browser/core/method_table.hpp"
#include "browser/core/params.hpp"
#include "browser/core/tab_method.hpp"
#include "browser/methods/network_actions.hpp"
#include "browser/methods/network_har.hpp"
#include "browser/trackers/network.hpp"

namespace vesk::browser {

namespace {

namespace fs = std::filesystem;

// A response body up to this size is answered inline; a larger one, or bytes that are not
// text, is written to a file.
constexpr std::size_t kInlineBodyBytes = 64 * 1024;

constexpr std::string_view kUsage =
    "network [list] [--filter TEXT] [--type TYPE,...] [--failed] [--clear] | get ID [--out FILE] | "
    "route PATTERN [--status N] [--body TEXT | --body-file FILE] [--content-type TYPE] "
    "[--header \"Name: value\"]... | route PATTERN --abort | routes | unroute [PATTERN] | "
    "offline on|off | har start | har stop FILE";

constexpr std::string_view kResourceTypes[] = {
    "document", "stylesheet", "image", "media", "font", "script", "texttrack", "xhr", "fetch",
    "prefetch", "eventsource", "websocket", "manifest", "signedexchange", "ping",
    "cspviolationreport", "preflight", "fedcm", "other"};

NetworkTracker& tracker_of(Tab& tab) {
  auto* tracker = tab.tracker<NetworkTracker>();
  if (tracker == nullptr) throw MethodFailure{MethodError{"actionFailed", "tab " + tab.id + " records no requests", nullptr}};
  return *tracker;
}

// Seconds as milliseconds to a microsecond, never negative.
double milliseconds(double seconds) { return std::max(0.0, std::round(seconds * 1e6) / 1e3); }

Json summary(const RequestRecord& record) {
  Json item = {{"id", record.id},
               {"method", record.method},
               {"url", record.url},
               {"type", record.type},
               {"status", record.status == 0 ? Json() : Json(record.status)},
               {"mimeType", record.mime_type},
               {"state", !record.failure.empty() ? "failed" : record.finished ? "finished" : "pending"},
               {"transferSize", record.transfer_bytes < 0 ? Json() : Json(record.transfer_bytes)},
               {"bodySize", record.body_bytes},
               {"startTime", iso_time(record.wall_time)},
               {"duration", record.ended < 0 ? Json() : Json(milliseconds(record.ended - record.started))}};
  if (!record.status_text.empty()) item["statusText"] = record.status_text;
  if (!record.failure.empty()) item["failure"] = record.failure;
  if (record.from_cache) item["fromCache"] = true;
  if (!record.routed.empty()) item["routed"] = record.routed;
  if (!record.redirect_to.empty()) item["redirectTo"] = record.redirect_to;
  return item;
}

bool failed(const RequestRecord& record) { return !record.failure.empty() || record.status >= 400; }

MethodResult list(Tab& tab, const Words& words) {
  NetworkTracker& tracker = tracker_of(tab);
  std::set<std::string> types;
  if (auto typed = words.value("type")) {
    std::stringstream stream(*typed);
    for (std::string type; std::getline(stream, type, ',');) {
      type = lower_case(type);
      if (type.empty()) continue;
      if (std::find(std::begin(kResourceTypes), std::end(kResourceTypes), type) == std::end(kResourceTypes)) {
        std::string known;
        for (auto name : kResourceTypes) known += (known.empty() ? "" : ",") + std::string(name);
        return invalid_argument("unknown request type \"" + type + "\"; --type takes a comma-separated list of " + known);
      }
      types.insert(type);
    }
  }
  const std::string filter = words.value("filter").value_or("");
  const bool only_failed = words.flag("failed");
  Json requests = Json::array();
  tracker.for_each([&](const RequestRecord& record) {
    if (!filter.empty() && record.url.find(filter) == std::string::npos) return;
    if (!types.empty() && types.count(record.type) == 0) return;
    if (only_failed && !failed(record)) return;
    requests.push_back(summary(record));
  });
  Json result = {{"tab", tab.id}, {"count", requests.size()}, {"dropped", tracker.dropped()}};
  result["requests"] = std::move(requests);
  if (words.flag("clear")) {
    tracker.clear();
    result["cleared"] = true;
  }
  return result;
}

std::string extension_for(const std::string& mime_type) {
  static const std::pair<std::string_view, std::string_view> known[] = {
      {"json", ".json"}, {"html", ".html"}, {"javascript", ".js"}, {"css", ".css"}, {"svg", ".svg"},
      {"png", ".png"},   {"jpeg", ".jpg"},  {"gif", ".gif"},       {"webp", ".webp"}, {"text/plain", ".txt"},
      {"xml", ".xml"},   {"pdf", ".pdf"}};
  for (const auto& [needle, extension] : known) {
    if (mime_type.find(needle) != std::string::npos) return std::string(extension);
  }
  return ".bin";
}

MethodResult get(Browser& browser, Tab& tab, const Words& words) {
  if (words.positional.size() != 1) return invalid_argument("network get needs one request id, as `network get 12`");
  const std::string& text = words.positional[0];
  auto number = parse_number(text);
  if (!number || *number < 1 || *number != static_cast<double>(static_cast<std::uint64_t>(*number))) {
    return invalid_argument("\"" + text + "\" is not a request id; `vesk network` lists them (\"id\": 12)");
  }
  std::optional<fs::path> out;
  if (auto given = words.value("out")) out = unwrap(absolute_path(*given, "--out"));
  NetworkTracker& tracker = tracker_of(tab);
  auto record = tracker.find(static_cast<std::uint64_t>(*number));
  if (!record) {
    return invalid_argument("no request " + text + " in tab " + tab.id + " (cleared, or dropped past the newest " +
                            std::to_string(kMaxRequests) + "); `vesk network` lists them");
  }
  Json result = summary(*record);
  result["tab"] = tab.id;
  result["requestHeaders"] = record->request_headers;
  result["responseHeaders"] = record->response_headers;
  if (record->post_data) result["postData"] = *record->post_data;
  if (record->timing.is_object()) result["timing"] = record->timing;
  result["body"] = nullptr;

  std::string why_none;
  if (!record->redirect_to.empty()) why_none = "a redirect has no body";
  else if (!record->failure.empty()) why_none = "the request failed (" + record->failure + ")";
  else if (!record->finished) why_none = "the response has not finished loading";
  if (!why_none.empty()) {
    result["bodyError"] = why_none;
    return result;
  }
  // The body lives in the renderer: an open dialog holds the reply back, so stop on one.
  auto body = browser.call(tab, "Network.getResponseBody", {{"requestId", record->request_id}});
  if (!body) {
    result["bodyError"] = body.error().kind == CdpFailureKind::DialogOpen
                              ? "a JavaScript dialog blocks the page; answer it (`vesk dialog accept`) to read the body"
                              : "Chromium no longer holds the body: " + body.error().message;
    return result;
  }
  const bool encoded = body->value("base64Encoded", false);
  std::string bytes = body->value("body", "");
  if (encoded) {
    auto decoded = decode_base64(bytes);
    if (!decoded) return method_error("actionFailed", "Chromium sent a response body that is not base64");
    bytes = std::move(*decoded);
  }
  result["bodyBytes"] = bytes.size();
  if (!out && !encoded && bytes.size() <= kInlineBodyBytes) {
    result["body"] = bytes;
    return result;
  }
  const fs::path path = out ? *out
                            : browser.work_dir().parent_path() / "vesk-outputs" / "network" /
                                  ("tab" + tab.id + "-request" + text + extension_for(record->mime_type));
  if (auto written = write_file_atomically(path, bytes); !written) {
    return method_error("fileError", "failed to write " + path.string() + ": " + written.error() +
                                         "; choose another --out path");
  }
  result["bodyFile"] = path.string();
  return result;
}

// A HAR recording of one tab: the requests from `first_id` on.
struct HarRecording {
  bool active = false;
  std::uint64_t first_id = 0;
  HarPage page;
};

// Response bodies for a HAR file, read from Chromium while it still holds them: each up to
// kMaxHarBodyBytes, all together up to kMaxHarBodiesBytes (the file stays loadable).
constexpr std::size_t kMaxHarBodyBytes = 1024 * 1024;
constexpr std::size_t kMaxHarBodiesBytes = 32 * 1024 * 1024;

HarBodyReader har_bodies(Browser& browser, Tab& tab) {
  auto total = std::make_shared<std::size_t>(0);
  return [&browser, &tab, total](const RequestRecord& record) -> std::optional<HarBody> {
    if (!record.finished || !record.failure.empty() || !record.redirect_to.empty()) return std::nullopt;
    if (record.body_bytes < 0 || static_cast<std::size_t>(record.body_bytes) > kMaxHarBodyBytes) return std::nullopt;
    if (*total + static_cast<std::size_t>(record.body_bytes) > kMaxHarBodiesBytes) return std::nullopt;
    auto body = browser.call(tab, "Network.getResponseBody", {{"requestId", record.request_id}}, std::chrono::seconds(5));
    if (!body) return std::nullopt;
    HarBody out{body->value("body", ""), body->value("base64Encoded", false)};
    if (out.text.size() > 2 * kMaxHarBodyBytes) return std::nullopt;  // the size known before was short
    *total += out.text.size();
    return out;
  };
}

MethodResult har(Browser& browser, Tab& tab, const Words& words) {
  constexpr std::string_view usage = "network har start, then network har stop FILE";
  NetworkTracker& tracker = tracker_of(tab);
  auto& recording = tab.state<HarRecording>();
  const std::string action = words.positional.empty() ? "" : words.positional[0];
  if (action == "start" && words.positional.size() == 1) {
    const bool restarted = recording.active;
    recording.active = true;
    recording.first_id = tracker.next_id();
    recording.page.wall_time = static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                       std::chrono::system_clock::now().time_since_epoch())
                                                       .count()) / 1000.0;
    recording.page.title = tab.url;
    return Json{{"recording", true}, {"tab", tab.id}, {"restarted", restarted}};
  }
  if (action != "stop" || words.positional.size() != 2) {
    return invalid_argument("network har needs `start` or `stop FILE`; usage: " + std::string(usage));
  }
  const fs::path path = unwrap(absolute_path(words.positional[1], "the HAR file"));
  if (!recording.active) {
    return invalid_argument("no HAR recording in tab " + tab.id + "; run `network har start` first");
  }
  std::vector<RequestRecord> records;
  std::uint64_t oldest_kept = tracker.next_id();
  tracker.for_each([&](const RequestRecord& record) {
    oldest_kept = std::min(oldest_kept, record.id);
    if (record.id >= recording.first_id) records.push_back(record);
  });
  const std::string text = har_log(recording.page, records, har_bodies(browser, tab)).dump(2);
  if (auto written = write_file_atomically(path, text); !written) {
    return method_error("fileError", "failed to write " + path.string() + ": " + written.error() +
                                         "; choose another path (the recording goes on)");
  }
  recording.active = false;
  Json result = {{"path", path.string()}, {"entries", records.size()}, {"bytes", text.size()}, {"tab", tab.id}};
  if (oldest_kept > recording.first_id) result["missing"] = oldest_kept - recording.first_id;
  return result;
}

MethodResult network(Browser& browser, Tab& tab, const Json& params) {
  const auto all = words_of(params);
  const std::string action = all.empty() || all[0].starts_with("--") ? "list" : all[0];
  const std::size_t from = all.empty() || all[0].starts_with("--") ? 0 : 1;
  if (action == "list") return list(tab, unwrap(read_words(all, from, {"filter", "type"}, {"failed", "clear"}, kUsage)));
  if (action == "get") return get(browser, tab, unwrap(read_words(all, from, {"out"}, {}, kUsage)));
  if (action == "route") {
    return network_route(browser, unwrap(read_words(all, from, {"status", "body", "body-file", "content-type", "header"}, {"abort"}, kUsage)));
  }
  if (action == "routes") {
    if (all.size() > 1) return invalid_argument("network routes takes no words; `network unroute PATTERN` removes one");
    return network_routes(browser);
  }
  if (action == "unroute") return network_unroute(browser, unwrap(read_words(all, from, {}, {}, kUsage)));
  if (action == "offline") return network_offline(browser, unwrap(read_words(all, from, {}, {}, kUsage)));
  if (action == "har") return har(browser, tab, unwrap(read_words(all, from, {}, {}, kUsage)));
  return invalid_argument("unknown network action \"" + action + "\"; usage: " + std::string(kUsage));
}

}  // namespace

// Served while a JavaScript dialog is open: nothing here runs in the page, and the log is
// what one wants to read when a page is stuck.
void add_network_methods(MethodTable& table) { table["network"] = tab_method(network, WhenDialogOpen::Serve); }

}  // namespace vesk::browser
