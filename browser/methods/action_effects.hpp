#pragma once
// What an action caused beyond its own element, so its answer can say so: a navigation of
// the tab ({"navigated": true, "url"}), a new tab ({"newTab": {"tab", "url"}}: a link with
// target=_blank, window.open) or a download ({"download": {"path", "suggestedFilename",
// "state"}}). Made before the action, asked after it.
//
// It costs a clicked page nothing when nothing happens: the renderer announces a navigation
// or a new window (Page.frameRequestedNavigation, Page.windowOpen) while it handles the
// click, so one round trip to it after the click shows whether anything started; only then
// is there something to wait for (bounded).

#include <memory>
#include <set>
#include <string>

#include "base/json.hpp"
#include "browser/core/browser.hpp"

namespace vesk::browser {

class ActionEffects {
 public:
  ActionEffects(Browser& browser, Tab& tab);
  // The clicked element is a link that saves a download (<a download>): wait for it even
  // though the renderer announces no navigation.
  void expect_download() { expect_download_ = true; }
  // Adds what happened to `result`. With `navigation_reported` the caller has waited for
  // the navigation itself ("waitNav") and only new tabs and downloads are added.
  void add_to(Json& result, bool navigation_reported);

 private:
  void add_new_tab(Json& result, const std::string& url);
  void add_download(Json& result, Deadline start_deadline);

  Browser& browser_;
  Tab& tab_;
  std::shared_ptr<EventQueue> events_;
  std::set<std::string> tabs_before_;
  std::size_t downloads_before_ = 0;
  bool expect_download_ = false;
};

}  // namespace vesk::browser
