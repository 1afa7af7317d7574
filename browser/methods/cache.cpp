// "cache": the browser's HTTP cache.
//   vesk cache clear | vesk cache disable | vesk cache enable
// clear empties the cache of the whole browser; disable and enable switch caching off and
// on for the tab's requests (until the tab closes).
#include "browser/core/method_table.hpp"

namespace vesk::browser {

namespace {

constexpr const char* kUsage = "cache takes `clear`, `disable` or `enable`";

MethodResult cache(Browser& browser, Tab& tab, const Json& params) {
  const auto words = words_of(params);
  if (words.size() != 1) {
    return invalid_argument(words.empty() ? std::string(kUsage)
                                          : "unexpected \"" + joined_words(params) + "\"; " + kUsage);
  }
  const std::string& action = words[0];
  if (action == "clear") {
    unwrap(browser.call(tab, "Network.clearBrowserCache", Json::object()), "failed to clear the browser cache");
    return Json{{"tab", tab.id}, {"cleared", true}};
  }
  if (action == "disable" || action == "enable") {
    const bool disabled = action == "disable";
    // The switch only holds for a session whose network domain is on.
    unwrap(browser.call(tab, "Network.enable", Json::object()), "failed to " + action + " the cache");
    unwrap(browser.call(tab, "Network.setCacheDisabled", {{"cacheDisabled", disabled}}),
           "failed to " + action + " the cache");
    return Json{{"tab", tab.id}, {"cacheDisabled", disabled}};
  }
  return invalid_argument("unknown action \"" + action + "\"; " + kUsage);
}

}  // namespace

void add_cache_methods(MethodTable& table) { table["cache"] = tab_method(cache); }

}  // namespace vesk::browser
