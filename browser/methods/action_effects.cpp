#include "browser/methods/action_effects.hpp"

#include <algorithm>
#include <optional>
#include <thread>

#include "browser/core/page_script.hpp"

namespace vesk::browser {

namespace {

using namespace std::chrono_literals;

// How long a started navigation may take to commit (or turn into a download), and a
// download to begin or to finish, before the answer goes out without it.
constexpr auto kCommitWait = 5s;
constexpr auto kDownloadWait = 5s;

bool is_main_frame(const CdpEvent& event, const Tab& tab) {
  if (event.method == "Page.frameNavigated") {
    return !event.params.value("frame", Json::object()).contains("parentId");
  }
  // A page target's main frame has the target's id.
  return event.params.value("frameId", "") == tab.target_id;
}

bool starts_navigation(const CdpEvent& event, const Tab& tab) {
  return (event.method == "Page.frameRequestedNavigation" || event.method == "Page.frameStartedLoading") &&
         is_main_frame(event, tab);
}

}  // namespace

ActionEffects::ActionEffects(Browser& browser, Tab& tab) : browser_(browser), tab_(tab) {
  const std::string session = tab.session_id;
  events_ = browser.client().subscribe([session](const CdpEvent& event) {
    return event.session_id == session &&
           (event.method == "Page.windowOpen" || event.method == "Page.frameRequestedNavigation" ||
            event.method == "Page.frameStartedLoading" || event.method == "Page.frameNavigated" ||
            event.method == "Page.navigatedWithinDocument" || event.method == "Page.frameStoppedLoading");
  });
  for (Tab* open : browser.tabs()) tabs_before_.insert(open->target_id);
  downloads_before_ = browser.downloads().started_count();
}

void ActionEffects::add_to(Json& result, bool navigation_reported) {
  // Everything the renderer announced while handling the action arrives before this reply
  // (which may also fail: the page is going away).
  (void)evaluate(browser_, tab_, "0", 2s);
  bool navigation_started = false;
  for (const CdpEvent& event : events_->drain()) {
    if (event.method == "Page.windowOpen") {
      add_new_tab(result, event.params.value("url", ""));
    } else if (event.method == "Page.navigatedWithinDocument" && is_main_frame(event, tab_)) {
      if (!navigation_reported) {
        result["navigated"] = true;
        result["url"] = event.params.value("url", "");
      }
    } else if (event.method == "Page.frameNavigated" && is_main_frame(event, tab_)) {
      if (!navigation_reported) {
        result["navigated"] = true;
        result["url"] = event.params.value("frame", Json::object()).value("url", "");
      }
      navigation_started = false;
    } else if (starts_navigation(event, tab_)) {
      navigation_started = true;
    }
  }
  bool became_download = false;
  if (navigation_started && !navigation_reported) {
    // Started, not yet committed: it commits as a page, or turns into a download (which
    // the download events tell, not the page's).
    const auto deadline = deadline_in(kCommitWait);
    std::optional<CdpEvent> ended;
    while (!ended && Clock::now() < deadline) {
      ended = events_->wait_for(
          [&](const CdpEvent& event) {
            return (event.method == "Page.frameNavigated" || event.method == "Page.frameStoppedLoading") &&
                   is_main_frame(event, tab_);
          },
          std::min(deadline, deadline_in(100ms)));
      if (!ended && browser_.downloads().started_count() > downloads_before_) {
        became_download = true;
        break;
      }
    }
    if (ended && ended->method == "Page.frameNavigated") {
      result["navigated"] = true;
      result["url"] = ended->params.value("frame", Json::object()).value("url", "");
    } else if (!ended && !became_download) {
      result["navigated"] = true;
      result["note"] = "a navigation started and had not finished within " +
                       std::to_string(kCommitWait.count()) + " s; `vesk wait load` waits for it";
    }
  }
  // A navigation that stopped without committing may have been a download; an <a download>
  // link starts one without navigating.
  const bool may_download = expect_download_ || became_download || (navigation_started && !result.contains("url"));
  add_download(result, may_download ? deadline_in(kDownloadWait) : Clock::now());
}

void ActionEffects::add_new_tab(Json& result, const std::string& url) {
  const auto deadline = deadline_in(kCommitWait);
  while (true) {
    if (browser_.refresh_tabs()) {
      for (Tab* open : browser_.tabs()) {
        if (!tabs_before_.contains(open->target_id)) {
          result["newTab"] = {{"tab", open->id}, {"url", url.empty() ? open->url : url}};
          // Chromium brings the new tab to the front; the acting tab stays current, and a tab
          // in the background gets its input events late (seconds per event), so it comes back.
          if (browser_.current_tab_id() == tab_.id) browser_.focus_tab(tab_);
          return;
        }
      }
    }
    if (Clock::now() >= deadline) return;
    std::this_thread::sleep_for(50ms);
  }
}

void ActionEffects::add_download(Json& result, Deadline start_deadline) {
  Downloads& downloads = browser_.downloads();
  auto started = downloads.wait_for_start(downloads_before_, start_deadline);
  if (!started) return;
  const DownloadState state = downloads.wait_for_end(started->guid, deadline_in(kDownloadWait));
  Json report = {{"suggestedFilename", state.suggested_filename}, {"state", state.state}, {"url", state.url}};
  if (!state.destination.empty()) report["path"] = state.destination.string();
  if (state.state == "inProgress") {
    report["note"] = "the download continues in the background and lands in the profile's downloads folder";
  }
  result["download"] = report;
}

}  // namespace vesk::browser
