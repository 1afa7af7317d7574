#pragma once
// Navigation and waiting for loads. Chromium sends no load event for a same-document
// (#fragment) navigation, for a URL that turns into a download, or for a failed load, so
// those cases are recognised from Page.navigate's reply instead of waited for. Every wait
// is bounded, and stops early when a JavaScript dialog opens (the page is then blocked).

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/json.hpp"
#include "browser/browser.hpp"
#include "browser/method_result.hpp"

namespace vesk::browser {

// How long a navigation waits for its load event before answering without it.
inline constexpr std::chrono::milliseconds kLoadTimeout{20'000};

struct LoadOutcome {
  bool navigated = false;  // a main-frame navigation started
  bool loaded = false;     // its load event fired
  std::optional<Json> dialog;  // a dialog opened and blocks the page
};

// Watches a tab's page events from construction on.
class LoadWatch {
 public:
  LoadWatch(Browser& browser, Tab& tab);
  // Waits for a load event that arrived after `after_sequence`.
  LoadOutcome wait_for_load(std::uint64_t after_sequence, Deadline deadline);
  // Waits up to `start_deadline` for a main-frame navigation to start, then for its load
  // until `load_deadline`. For actions that may or may not navigate.
  LoadOutcome wait_for_navigation(Deadline start_deadline, Deadline load_deadline);

 private:
  Browser& browser_;
  Tab& tab_;
  std::shared_ptr<EventQueue> events_;
};

// "https://" is put in front of a URL without a scheme ("example.com/a").
std::string normalize_url(const std::string& url);

// Navigates the tab and answers {"tab", "url", "title", "loaded", ...}; honours the
// navigation options in params ("text", "blockImages", "blockAds", "dismissBanners").
MethodResult navigate_tab(Browser& browser, Tab& tab, const std::string& url, const Json& params);

// {"tab", "url", "title"} of the tab as it is now, plus "text" when params ask for it.
MethodResult describe_page(Browser& browser, Tab& tab, const Json& params);

// Clicks the accept button of common cookie and consent banners; the number clicked.
MethodResult dismiss_banners(Browser& browser, Tab& tab);

}  // namespace vesk::browser
