// The network method's routes and offline mode: rules for the whole browser, sent to every
// attached tab at once and to each tab attached later when it starts (trackers/network).
#include <algorithm>
#include <fstream>

#include "browser/core/params.hpp"
#include "browser/methods/network_actions.hpp"
#include "browser/trackers/network.hpp"

namespace vesk::browser {

namespace {

namespace fs = std::filesystem;

// A route's body file is read whole and sent to Chromium in one command.
constexpr std::uintmax_t kMaxRouteBodyBytes = 16 * 1024 * 1024;

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

}  // namespace

MethodResult network_route(Browser& browser, const Words& words) {
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

MethodResult network_routes(Browser& browser) {
  Json listed = Json::array();
  for (const auto& route : network_rules_of(browser.client())->routes()) listed.push_back(route_json(route));
  return Json{{"routes", std::move(listed)}, {"offline", network_rules_of(browser.client())->offline()}};
}

MethodResult network_unroute(Browser& browser, const Words& words) {
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

MethodResult network_offline(Browser& browser, const Words& words) {
  if (words.positional.size() != 1 || (words.positional[0] != "on" && words.positional[0] != "off")) {
    return invalid_argument("network offline needs `on` or `off`");
  }
  const bool on = words.positional[0] == "on";
  network_rules_of(browser.client())->set_offline(on);
  Json result = {{"offline", on}};
  result["tabs"] = apply_to_tabs(browser);
  return result;
}

}  // namespace vesk::browser
