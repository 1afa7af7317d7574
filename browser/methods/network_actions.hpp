#pragma once
// The words of the "network" method and its actions, one file per group: the log and HAR
// recording (network.cpp), routes and offline mode (network_routes.cpp).

#include <expected>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "browser/core/browser.hpp"
#include "browser/core/method_result.hpp"

namespace vesk::browser {

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

// Reads words[from...]: options named in `valued` take the next word (or "=value"), those
// in `flags` none; anything else starting with "--" is refused, showing `usage`.
std::expected<Words, MethodError> read_words(const std::vector<std::string>& words, std::size_t from,
                                             std::initializer_list<std::string_view> valued,
                                             std::initializer_list<std::string_view> flags,
                                             std::string_view usage);

std::string lower_case(std::string text);
// `text` as a path, refused with invalidArgument unless absolute (`what` names it).
std::expected<std::filesystem::path, MethodError> absolute_path(const std::string& text, std::string_view what);

MethodResult network_route(Browser& browser, const Words& words);
MethodResult network_routes(Browser& browser);
MethodResult network_unroute(Browser& browser, const Words& words);
MethodResult network_offline(Browser& browser, const Words& words);

}  // namespace vesk::browser
