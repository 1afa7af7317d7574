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
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "base/timestamp.hpp"
#include "browser/core/base64.hpp"
#include "browser/core/method_table.hpp"
#include "browser/core/params.hpp"
#include "browser/core/tab_method.hpp"
#include "browser/methods/network_har.hpp"
#include "browser/trackers/network.hpp"

namespace vesk::browser {

namespace {

namespace fs = std::filesystem;

// A response body up to this size is answered inline; a larger one, or bytes that are not
// text, is written to a file.
constexpr std::size_t kInlineBodyBytes = 64 * 1024;
// A route's body file is read whole and sent to Chromium in one command.
constexpr std::uintmax_t kMaxRouteBodyBytes = 16 * 1024 * 1024;

constexpr std::string_view kUsage =
    "network [list] [--filter TEXT] [--type TYPE,...] [--failed] [--clear] | get ID [--out FILE] | "
    "route PATTERN [--status N] [--body TEXT | --body-file FILE] [--content-type TYPE] "
    "[--header \"Name: value\"]... | route PATTERN --abort | routes | unroute [PATTERN] | "
    "offline on|off | har start | har stop FILE";

constexpr std::string_view kResourceTypes[] = {
    "document", "stylesheet", "image", "media", "font", "script", "texttrack", "xhr", "fetch",
    "prefetch", "eventsource", "websocket", "manifest", "signedexchange", "ping",
    "cspviolationreport", "preflight", "fedcm", "other"};

std::string lower_case(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// The words of one action: "--name value" options, "--flag" flags and positional words.
struct Words {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> values;
  std::set<std::string> flags;

  [[nodiscard]] std::optional<std::string> value(const std::string& name) const {
    auto it = values.find(name);
    if (it == values.end() || it->second.empty()) return std::nullopt;
    return it->second.back();
  }
  [[nodiscard]] bool flag(const std::string& name) const { return flags.count(name) > 0; }
  // Every value of a repeatable option, in order.
  [[nodiscard]] const std::vector<std::string>& all(const std::string& name) const {
    static const std::vector<std::string> none;
    auto it = values.find(name);
    return it == values.end() ? none : it->second;
  }
};

std::expected<Words, MethodError> read_words(const std::vector<std::string>& words, std::size_t from,
                                             std::initializer_list<std::string_view> valued,
                                             std::initializer_list<std::string_view> flags,
                                             std::string_view usage) {
  Words out;
  for (std::size_t i = from; i < words.size(); ++i) {
    std::string word = words[i];
    if (!word.starts_with("--")) {
      out.positional.push_back(word);
      continue;
    }
    std::optional<std::string> inline_value;
    if (auto eq = word.find('='); eq != std::string::npos) {
      inline_value = word.substr(eq + 1);
      word.resize(eq);
    }
    const std::string name = word.substr(2);
    if (std::find(valued.begin(), valued.end(), name) != valued.end()) {
      if (!inline_value) {
        if (i + 1 >= words.size()) return invalid_argument(word + " needs a value; usage: " + std::string(usage));
        inline_value = words[++i];
      }
      out.values[name].push_back(*inline_value);
    } else if (std::find(flags.begin(), flags.end(), name) != flags.end() && !inline_value) {
      out.flags.insert(name);
    } else {
      return invalid_argument("unknown word \"" + words[i] + "\"; usage: " + std::string(usage));
    }
  }
  return out;
}

std::expected<fs::path, MethodError> absolute_path(const std::string& text, std::string_view what) {
  fs::path path(text);
  if (text.empty() || path.is_relative()) {
    return invalid_argument(std::string(what) + " must be an absolute path, not \"" + text +
                            "\" (the command line sends the path resolved where it ran)");
  }
  return path.lexically_normal();
}

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

// Sends the rules to every attached tab; tabs attached later get them when they start.
Json apply_to_tabs(Browser& browser) {
  Json applied = Json::array();
  for (Tab* tab : browser.tabs()) {
    auto* tracker = tab->tracker<NetworkTracker>();
    if (tracker == nullptr || tab->session_id.empty()) continue;
    auto done = tracker->apply_rules();
    if (done) {
      applied.push_back(tab->id);
    } else if (done.error().kind == CdpFailureKind::Closed) {
      throw MethodFailure{from_cdp(done.error(), "failed to apply the network rules")};
    }
    // Any other failure: the tab closed meanwhile; it needs no rules.
  }
  return applied;
}

Json route_json(const Route& route) {
  Json headers = Json::array();
  for (const auto& [name, value] : route.headers) headers.push_back(name + ": " + value);
  Json item = {{"pattern", route.pattern}, {"glob", route.glob}, {"hits", route.hits}};
  if (route.abort) {
    item["abort"] = true;
    return item;
  }
  item["status"] = route.status;
  item["headers"] = std::move(headers);
  item["bodyBytes"] = route.body.size();
  item["bodySource"] = route.body_source;
  return item;
}

std::string content_type_for_file(const fs::path& path) {
  const std::string ext = path.extension().string();
  static const std::pair<std::string_view, std::string_view> known[] = {
      {".json", "application/json"}, {".html", "text/html; charset=utf-8"}, {".htm", "text/html; charset=utf-8"},
      {".js", "text/javascript"},    {".css", "text/css"},                  {".txt", "text/plain; charset=utf-8"},
      {".svg", "image/svg+xml"},     {".png", "image/png"},                 {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},       {".gif", "image/gif"},                 {".xml", "application/xml"}};
  for (const auto& [known_ext, type] : known) {
    if (ext == known_ext) return std::string(type);
  }
  return "application/octet-stream";
}

std::expected<std::string, MethodError> read_body_file(const fs::path& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (ec) return invalid_argument("cannot read --body-file " + path.string() + ": " + ec.message());
  if (size > kMaxRouteBodyBytes) {
    return invalid_argument("--body-file " + path.string() + " is " + std::to_string(size) +
                            " bytes; a route body may be at most 16 MiB");
  }
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) return invalid_argument("cannot read --body-file " + path.string());
  return bytes;
}

constexpr std::string_view kRouteUsage =
    "network route PATTERN [--status N] [--body TEXT | --body-file FILE] [--content-type TYPE] "
    "[--header \"Name: value\"]..., or network route PATTERN --abort";

std::expected<std::pair<std::string, std::string>, MethodError> parse_header(const std::string& header) {
  const auto colon = header.find(':');
  std::string name = header.substr(0, colon);
  if (colon == std::string::npos || name.empty() || name.find_first_of(" \t") != std::string::npos) {
    return invalid_argument("--header needs \"Name: value\", not \"" + header + "\"");
  }
  std::string value = header.substr(colon + 1);
  value.erase(0, value.find_first_not_of(" \t"));
  return std::pair{std::move(name), std::move(value)};
}

// The answer of a route that fulfils: status, body and headers, with one Content-Type:
// --content-type, else a --header of that name, else by the body file, else plain text.
std::expected<void, MethodError> read_answer(Route& route, const Words& words) {
  if (auto status = words.value("status")) {
    auto number = parse_number(*status);
    if (!number || *number < 100 || *number > 599 || *number != static_cast<int>(*number)) {
      return invalid_argument("--status needs an HTTP status from 100 to 599, not \"" + *status + "\"");
    }
    route.status = static_cast<int>(*number);
  }
  auto body = words.value("body");
  auto body_file = words.value("body-file");
  if (body && body_file) return invalid_argument("give --body or --body-file, not both; usage: " + std::string(kRouteUsage));
  std::string content_type = "text/plain; charset=utf-8";
  route.body_source = "text";
  if (body) route.body = *body;
  if (body_file) {
    auto path = absolute_path(*body_file, "--body-file");
    if (!path) return std::unexpected(path.error());
    auto bytes = read_body_file(*path);
    if (!bytes) return std::unexpected(bytes.error());
    route.body = std::move(*bytes);
    route.body_source = path->string();
    content_type = content_type_for_file(*path);
  }
  bool has_content_type = false;
  for (const auto& header : words.all("header")) {
    auto parsed = parse_header(header);
    if (!parsed) return std::unexpected(parsed.error());
    has_content_type = has_content_type || lower_case(parsed->first) == "content-type";
    route.headers.push_back(std::move(*parsed));
  }
  auto given = words.value("content-type");
  if (has_content_type && !given) return {};
  std::erase_if(route.headers, [](const auto& h) { return lower_case(h.first) == "content-type"; });
  route.headers.emplace_back("Content-Type", given.value_or(content_type));
  return {};
}

MethodResult route(Browser& browser, const Words& words) {
  if (words.positional.size() != 1 || words.positional[0].empty()) {
    return invalid_argument("network route needs one URL pattern (a glob such as \"*/api/*\", or a text the URL "
                            "contains); usage: " + std::string(kRouteUsage));
  }
  Route route;
  route.pattern = words.positional[0];
  route.glob = route_glob(route.pattern);
  route.abort = words.flag("abort");
  if (route.abort && !words.values.empty()) {
    return invalid_argument("--abort fails the request; it takes no --status, --body or --header; usage: " +
                            std::string(kRouteUsage));
  }
  if (!route.abort) unwrap(read_answer(route, words));
  auto rules = network_rules_of(browser.client());
  rules->add(route);
  Json result = {{"route", route_json(route)}, {"routes", rules->routes().size()}};
  result["tabs"] = apply_to_tabs(browser);
  return result;
}

MethodResult routes(Browser& browser) {
  Json listed = Json::array();
  for (const auto& route : network_rules_of(browser.client())->routes()) listed.push_back(route_json(route));
  return Json{{"routes", std::move(listed)}, {"offline", network_rules_of(browser.client())->offline()}};
}

MethodResult unroute(Browser& browser, const Words& words) {
  if (words.positional.size() > 1) return invalid_argument("network unroute takes at most one pattern, as given to `network route`");
  std::optional<std::string> pattern;
  if (!words.positional.empty()) pattern = words.positional[0];
  auto rules = network_rules_of(browser.client());
  const std::size_t removed = rules->remove(pattern);
  if (pattern && removed == 0) {
    return invalid_argument("no route with the pattern \"" + *pattern + "\"; `network routes` lists them");
  }
  Json result = {{"removed", removed}, {"routes", rules->routes().size()}};
  result["tabs"] = apply_to_tabs(browser);
  return result;
}

MethodResult offline(Browser& browser, const Words& words) {
  if (words.positional.size() != 1 || (words.positional[0] != "on" && words.positional[0] != "off")) {
    return invalid_argument("network offline needs `on` or `off`");
  }
  const bool on = words.positional[0] == "on";
  network_rules_of(browser.client())->set_offline(on);
  Json result = {{"offline", on}};
  result["tabs"] = apply_to_tabs(browser);
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
    return route(browser, unwrap(read_words(all, from, {"status", "body", "body-file", "content-type", "header"}, {"abort"}, kUsage)));
  }
  if (action == "routes") {
    if (all.size() > 1) return invalid_argument("network routes takes no words; `network unroute PATTERN` removes one");
    return routes(browser);
  }
  if (action == "unroute") return unroute(browser, unwrap(read_words(all, from, {}, {}, kUsage)));
  if (action == "offline") return offline(browser, unwrap(read_words(all, from, {}, {}, kUsage)));
  if (action == "har") return har(browser, tab, unwrap(read_words(all, from, {}, {}, kUsage)));
  return invalid_argument("unknown network action \"" + action + "\"; usage: " + std::string(kUsage));
}

}  // namespace

// Served while a JavaScript dialog is open: nothing here runs in the page, and the log is
// what one wants to read when a page is stuck.
void add_network_methods(MethodTable& table) { table["network"] = tab_method(network, WhenDialogOpen::Serve); }

}  // namespace vesk::browser
