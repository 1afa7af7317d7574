#pragma once
// Navigation. Chromium sends no load event for a same-document (#fragment) navigation, for
// a URL that turns into a download, or for a failed load, so those cases are recognised
// from Page.navigate's reply instead of waited for (see trackers/load_state.hpp).

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/json.hpp"
#include "browser/core/browser.hpp"
#include "browser/core/method_result.hpp"
#include "browser/trackers/load_state.hpp"

namespace vesk::browser {

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
