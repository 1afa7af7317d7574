#pragma once
// The browser-wide network rules the "network" methods set: routes (answer the requests
// whose URL matches a pattern from veskbrowser, or fail them) and offline mode. They hold
// for every tab, those opened later included: each tab's network tracker applies them when
// it starts, and the methods apply a change to the tabs already attached.
//
// Threads: the serving thread changes the rules; each tab's route responder reads them.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/json.hpp"
#include "browser/chromium/devtools_client.hpp"

namespace vesk::browser {

// A URL glob: "*" any run of characters ("/" included), "?" one character, "\" makes the
// next character literal. The whole URL must match. Chromium's Fetch patterns read the
// same way, so the requests it pauses are the ones these patterns take.
bool url_glob_matches(std::string_view pattern, std::string_view url);
// What the user typed as a route's pattern made a glob: a text without "*" or "?" means
// "URLs containing it" ("api/data" -> "*api/data*").
std::string route_glob(std::string_view typed);

struct Route {
  std::string pattern;  // as typed
  std::string glob;     // route_glob(pattern)
  bool abort = false;   // fail the request (net::ERR_FAILED) instead of answering it
  int status = 200;
  std::string body;
  std::string body_source;  // "text", or the file the body was read from
  std::vector<std::pair<std::string, std::string>> headers;  // Content-Type among them
  std::uint64_t hits = 0;
};

class NetworkRules {
 public:
  // Adds a route; one with the same pattern is replaced. The newest matching route wins.
  void add(Route route);
  // Removes the routes with this pattern (all of them without one); how many went.
  std::size_t remove(const std::optional<std::string>& pattern);
  [[nodiscard]] std::vector<Route> routes() const;
  // The route that answers `url` (counting the hit), if any.
  std::optional<Route> answer_for(std::string_view url);
  // Fetch.enable's "patterns" (every URL while offline), or an empty array when nothing
  // needs pausing.
  [[nodiscard]] Json fetch_patterns() const;

  void set_offline(bool offline);
  [[nodiscard]] bool offline() const;

 private:
  mutable std::mutex mutex_;
  std::vector<Route> routes_;  // guarded by mutex_, oldest first
  bool offline_ = false;       // guarded by mutex_
};

// The rules of the browser this client drives (one per veskbrowser), created on first use.
std::shared_ptr<NetworkRules> network_rules_of(const DevToolsClient& client);

}  // namespace vesk::browser
