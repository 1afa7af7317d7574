#include "browser/trackers/network_rules.hpp"

#include <algorithm>
#include <map>

namespace vesk::browser {

bool url_glob_matches(std::string_view pattern, std::string_view url) {
  // Iterative matching with one backtrack point (the last "*"): linear in practice, and
  // never exponential on patterns such as "*a*a*a*b".
  std::size_t p = 0, u = 0;
  std::size_t star = std::string_view::npos, star_u = 0;
  while (u < url.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = ++p;
      star_u = u;
      continue;
    }
    if (p < pattern.size()) {
      bool literal = pattern[p] == '\\' && p + 1 < pattern.size();
      const char want = literal ? pattern[p + 1] : pattern[p];
      if ((!literal && want == '?') || want == url[u]) {
        p += literal ? 2 : 1;
        ++u;
        continue;
      }
    }
    if (star == std::string_view::npos) return false;
    p = star;
    u = ++star_u;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::string route_glob(std::string_view typed) {
  if (typed.find_first_of("*?") != std::string_view::npos) return std::string(typed);
  std::string glob = "*";
  for (char c : typed) {
    if (c == '\\') glob += '\\';
    glob += c;
  }
  return glob + "*";
}

void NetworkRules::add(Route route) {
  std::lock_guard lock(mutex_);
  std::erase_if(routes_, [&](const Route& r) { return r.pattern == route.pattern; });
  routes_.push_back(std::move(route));
}

std::size_t NetworkRules::remove(const std::optional<std::string>& pattern) {
  std::lock_guard lock(mutex_);
  return std::erase_if(routes_, [&](const Route& r) { return !pattern || r.pattern == *pattern; });
}

std::vector<Route> NetworkRules::routes() const {
  std::lock_guard lock(mutex_);
  return routes_;
}

std::optional<Route> NetworkRules::answer_for(std::string_view url) {
  std::lock_guard lock(mutex_);
  for (auto it = routes_.rbegin(); it != routes_.rend(); ++it) {
    if (url_glob_matches(it->glob, url)) {
      ++it->hits;
      return *it;
    }
  }
  return std::nullopt;
}

Json NetworkRules::fetch_patterns() const {
  std::lock_guard lock(mutex_);
  Json patterns = Json::array();
  // Offline, every request is paused and failed by us: Chromium's network emulation alone
  // can take effect a moment after its reply, and a request in that gap would go out.
  if (offline_) {
    patterns.push_back({{"urlPattern", "*"}, {"requestStage", "Request"}});
    return patterns;
  }
  for (const auto& route : routes_) patterns.push_back({{"urlPattern", route.glob}, {"requestStage", "Request"}});
  return patterns;
}

void NetworkRules::set_offline(bool offline) {
  std::lock_guard lock(mutex_);
  offline_ = offline;
}

bool NetworkRules::offline() const {
  std::lock_guard lock(mutex_);
  return offline_;
}

std::shared_ptr<NetworkRules> network_rules_of(const DevToolsClient& client) {
  // Keyed by the client: veskbrowser drives one browser for its whole life, so the rules
  // live as long as the process (they must outlast every tab: they hold for tabs opened
  // later).
  static std::mutex mutex;
  static std::map<const DevToolsClient*, std::shared_ptr<NetworkRules>> rules;
  std::lock_guard lock(mutex);
  auto& slot = rules[&client];
  if (!slot) slot = std::make_shared<NetworkRules>();
  return slot;
}

}  // namespace vesk::browser
