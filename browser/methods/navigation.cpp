// Navigation methods: "tab.navigate", "nav.back", "nav.forward", "nav.reload".
#include "browser/methods/navigation.hpp"

#include <array>

#include "browser/core/method_table.hpp"
#include "browser/core/page_script.hpp"
#include "browser/js/page_scripts.hpp"

namespace vesk::browser {

namespace {

// The URL patterns a tab blocks now, so a navigation only changes them when asked to.
struct BlockedUrls {
  std::vector<std::string> patterns;
};

constexpr std::array kImagePatterns = {"*.png", "*.jpg", "*.jpeg", "*.gif", "*.webp",
                                       "*.svg", "*.ico", "*.avif", "*.bmp"};
constexpr std::array kAdPatterns = {
    "*doubleclick.net*",     "*googlesyndication.com*", "*googleadservices.com*",
    "*adservice.google.*",   "*amazon-adsystem.com*",   "*adnxs.com*",
    "*taboola.com*",         "*outbrain.com*",          "*criteo.com*",
    "*scorecardresearch.com*", "*moatads.com*",         "*pubmatic.com*",
    "*rubiconproject.com*",  "*googletagservices.com*"};

// Blocks images and ad hosts for this tab's later requests when asked; clears an earlier
// block when not.
std::expected<void, MethodError> apply_blocking(Browser& browser, Tab& tab, const Json& params) {
  std::vector<std::string> patterns;
  if (option_flag(params, "blockImages")) patterns.insert(patterns.end(), kImagePatterns.begin(), kImagePatterns.end());
  if (option_flag(params, "blockAds")) patterns.insert(patterns.end(), kAdPatterns.begin(), kAdPatterns.end());
  if (patterns == tab.state<BlockedUrls>().patterns) return {};
  if (!patterns.empty() && tab.state<BlockedUrls>().patterns.empty()) {
    auto enabled = browser.call(tab, "Network.enable", Json::object());
    if (!enabled) return std::unexpected(from_cdp(enabled.error(), "failed to enable request blocking"));
  }
  auto set = browser.call(tab, "Network.setBlockedURLs", {{"urls", patterns}});
  if (!set) return std::unexpected(from_cdp(set.error(), "failed to set blocked URLs"));
  tab.state<BlockedUrls>().patterns = patterns;
  return {};
}

MethodResult history_step(Browser& browser, Tab& tab, const Json& params, int step) {
  auto history = browser.call(tab, "Page.getNavigationHistory", Json::object());
  if (!history) return std::unexpected(from_cdp(history.error(), "failed to read the tab's history"));
  const Json entries = history->value("entries", Json::array());
  const auto index = history->value("currentIndex", 0) + step;
  if (index < 0 || index >= static_cast<int>(entries.size())) {
    return invalid_argument(step < 0 ? "there is no previous page in this tab's history"
                                     : "there is no next page in this tab's history");
  }
  LoadWatch watch = browser.watch_loads(tab);
  auto moved = browser.call(tab, "Page.navigateToHistoryEntry",
                            {{"entryId", entries[static_cast<std::size_t>(index)].value("id", 0)}});
  if (!moved) return std::unexpected(from_cdp(moved.error(), "failed to go through history"));
  // A page restored from the back-forward cache fires no load event: bound the wait.
  LoadOutcome outcome = watch.wait_for_navigation(deadline_in(std::chrono::seconds(5)),
                                                  deadline_in(kLoadTimeout));
  auto page = describe_page(browser, tab, params);
  if (page && outcome.dialog) (*page)["dialog"] = *outcome.dialog;
  return page;
}

MethodResult reload(Browser& browser, Tab& tab, const Json& params) {
  LoadWatch watch = browser.watch_loads(tab);
  unwrap(browser.call(tab, "Page.reload", Json::object()), "failed to reload");
  // Every load event after the watch began belongs to the reload.
  LoadOutcome outcome = watch.wait_for_load(0, deadline_in(kLoadTimeout));
  Json page = unwrap(describe_page(browser, tab, params));
  page["loaded"] = outcome.loaded;
  if (outcome.dialog) page["dialog"] = *outcome.dialog;
  return page;
}

MethodResult navigate(Browser& browser, const Json& params) {
  auto url = string_member(params, "url");
  if (!url || url->empty()) {
    auto words = words_of(params);
    if (words.empty()) return invalid_argument("tab.navigate needs a \"url\"");
    url = words.front();
  }
  Tab* tab = nullptr;
  const bool new_tab = params.value("newTab", false);
  if (new_tab) {
    auto opened = browser.open_tab("about:blank");
    if (!opened) return std::unexpected(opened.error());
    tab = *opened;
  } else {
    auto found = browser.tab_for(params);
    if (!found) return std::unexpected(found.error());
    tab = *found;
  }
  return navigate_tab(browser, *tab, *url, params);
}

}  // namespace

std::string normalize_url(const std::string& url) {
  if (url.find("://") != std::string::npos) return url;
  for (const char* scheme : {"about:", "data:", "file:", "javascript:", "blob:", "chrome:"}) {
    if (url.starts_with(scheme)) return url;
  }
  return "https://" + url;
}

MethodResult describe_page(Browser& browser, Tab& tab, const Json& params) {
  auto facts = evaluate(browser, tab, "({url: location.href, title: document.title})");
  if (!facts) return std::unexpected(facts.error());
  Json result = {{"tab", tab.id},
                 {"url", facts->value("url", "")},
                 {"title", facts->value("title", "")}};
  if (option_flag(params, "text")) {
    auto text = evaluate(browser, tab, "document.body ? document.body.innerText : ''");
    if (!text) return std::unexpected(text.error());
    result["text"] = *text;
  }
  return result;
}

MethodResult navigate_tab(Browser& browser, Tab& tab, const std::string& raw_url, const Json& params) {
  const std::string url = normalize_url(raw_url);
  if (auto blocking = apply_blocking(browser, tab, params); !blocking) {
    return std::unexpected(blocking.error());
  }
  LoadWatch watch = browser.watch_loads(tab);
  auto reply = browser.call_with_sequence(tab, "Page.navigate", {{"url", url}}, kLoadTimeout);
  if (!reply) {
    if (reply.error().kind == CdpFailureKind::Protocol) {
      return method_error("navigationFailed", "cannot navigate to " + url + ": " +
                                                  reply.error().message +
                                                  "; check that the URL is complete and valid");
    }
    return std::unexpected(from_cdp(reply.error(), "failed to navigate to " + url));
  }
  const Json& navigated = reply->result;
  const std::string error_text = navigated.value("errorText", "");
  if (navigated.value("isDownload", false)) {
    return Json{{"tab", tab.id},
                {"url", url},
                {"download", true},
                {"note", "the URL started a download instead of a page; save it with `vesk "
                         "download <url> --wait`"}};
  }
  if (!error_text.empty()) {
    return method_error("navigationFailed",
                        "failed to load " + url + ": " + error_text +
                            "; check the URL and that the site is reachable",
                        Json{{"url", url}, {"errorText", error_text}});
  }
  LoadOutcome outcome;
  outcome.navigated = true;
  outcome.loaded = true;
  // Without a loader the navigation stayed in the document (#fragment): no load follows.
  if (navigated.contains("loaderId")) {
    outcome = watch.wait_for_load(reply->sequence, deadline_in(kLoadTimeout));
  }
  if (outcome.dialog) {
    return Json{{"tab", tab.id},
                {"url", url},
                {"loaded", false},
                {"dialog", *outcome.dialog},
                {"note", "a JavaScript dialog blocks the page; answer it with `vesk dialog "
                         "accept` or `vesk dialog dismiss`"}};
  }
  auto page = describe_page(browser, tab, params);
  if (!page) return page;
  (*page)["loaded"] = outcome.loaded;
  if (!outcome.loaded) {
    (*page)["note"] = "the page did not finish loading within " +
                      std::to_string(kLoadTimeout.count() / 1000) +
                      " s; it may still be loading: `vesk wait load` waits for it";
  }
  if (option_flag(params, "dismissBanners")) {
    auto dismissed = dismiss_banners(browser, tab);
    if (dismissed) (*page)["bannersDismissed"] = *dismissed;
  }
  tab.url = page->value("url", "");
  tab.title = page->value("title", "");
  return page;
}

MethodResult dismiss_banners(Browser& browser, Tab& tab) {
  return evaluate(browser, tab, std::string(js::dismiss_banners));
}

void add_navigation_methods(MethodTable& table) {
  table["tab.navigate"] = navigate;
  table["nav.back"] = tab_method([](Browser& b, Tab& t, const Json& p) { return history_step(b, t, p, -1); });
  table["nav.forward"] = tab_method([](Browser& b, Tab& t, const Json& p) { return history_step(b, t, p, +1); });
  table["nav.reload"] = tab_method(reload);
}

}  // namespace vesk::browser
