// Tab methods: "tab.list", "tab.open", "tab.focus", "tab.close".
#include "browser/core/method_table.hpp"
#include "browser/methods/navigation.hpp"

namespace vesk::browser {

namespace {

Json tab_json(const Tab& tab, const std::string& current) {
  return {{"id", tab.id}, {"url", tab.url}, {"title", tab.title}, {"current", tab.id == current}};
}

MethodResult list_tabs(Browser& browser, const Json&) {
  if (auto refreshed = browser.refresh_tabs(); !refreshed) return std::unexpected(refreshed.error());
  Json tabs = Json::array();
  for (Tab* tab : browser.tabs()) tabs.push_back(tab_json(*tab, browser.current_tab_id()));
  const std::string current = browser.current_tab_id();
  return Json{{"tabs", tabs}, {"current", current.empty() ? Json() : Json(current)}};
}

// "tab open [URL]": the URL is the word after "open"/"new" when there is one.
MethodResult open_tab(Browser& browser, const Json& params) {
  auto words = words_of(params);
  std::string url = "about:blank";
  if (auto given = string_member(params, "url")) {
    url = *given;
  } else if (words.size() >= 2 && (words[0] == "open" || words[0] == "new")) {
    url = words[1];
  } else if (words.size() == 1 && words[0] != "open" && words[0] != "new") {
    url = words[0];
  }
  auto tab = browser.open_tab("about:blank");
  if (!tab) return std::unexpected(tab.error());
  if (auto focused = browser.focus_tab(**tab); !focused) return std::unexpected(focused.error());
  if (url != "about:blank") return navigate_tab(browser, **tab, url, params);
  return Json{{"tab", (*tab)->id}, {"url", "about:blank"}, {"title", ""}};
}

// The tab named by "tab", else the word after the subcommand, else the current one.
std::expected<Tab*, MethodError> named_tab(Browser& browser, const Json& params,
                                           std::string_view subcommand) {
  Json target = params.value("tab", Json());
  auto words = words_of(params);
  if (target.is_null() && words.size() >= 2 && words[0] == subcommand) target = words[1];
  return browser.tab_for(Json{{"tab", target}});
}

// "tab 2" sends the id as the tab; "tab focus 2", as people write it, sends the word
// "focus" as the tab and the id after it in "args".
MethodResult focus_tab(Browser& browser, const Json& params) {
  Json target = params.value("tab", Json());
  auto words = words_of(params);
  if (target == "focus" || (target.is_null() && !words.empty() && words[0] == "focus")) {
    if (words.size() != 2 || words[0] != "focus") {
      return invalid_argument("tab focus needs one tab id: `vesk tab focus 2`; `vesk tab list` shows them");
    }
    target = words[1];
  } else if (target.is_null() && !words.empty()) {
    target = words.back();
  }
  if (target.is_null()) return invalid_argument("tab.focus needs a tab id; run `vesk tab list`");
  auto tab = browser.tab_for(Json{{"tab", target}});
  if (!tab) return std::unexpected(tab.error());
  if (auto focused = browser.focus_tab(**tab); !focused) return std::unexpected(focused.error());
  return Json{{"tab", (*tab)->id}, {"url", (*tab)->url}, {"title", (*tab)->title}};
}

MethodResult close_tab(Browser& browser, const Json& params) {
  auto tab = named_tab(browser, params, "close");
  if (!tab) return std::unexpected(tab.error());
  const std::string id = (*tab)->id;
  if (auto closed = browser.close_tab(**tab); !closed) return std::unexpected(closed.error());
  if (auto refreshed = browser.refresh_tabs(); !refreshed) return std::unexpected(refreshed.error());
  const std::string current = browser.current_tab_id();
  return Json{{"closed", id}, {"current", current.empty() ? Json() : Json(current)}};
}

}  // namespace

void add_tab_methods(MethodTable& table) {
  table["tab.list"] = list_tabs;
  table["tab.open"] = open_tab;
  table["tab.focus"] = focus_tab;
  table["tab.close"] = close_tab;
}

}  // namespace vesk::browser
