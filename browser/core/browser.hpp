#pragma once
// The browser as the methods see it: the DevTools client, the open tabs with their short
// ids ("1", "2", ...), DevTools sessions and trackers, the browser-wide download tracker,
// and which tab is current. Tab ids are given in the order tabs are first seen and never
// reused while veskbrowser runs.
//
// Used by one thread at a time (requests are served one after another).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/json.hpp"
#include "browser/chromium/devtools_client.hpp"
#include "browser/core/method_result.hpp"
#include "browser/core/tab.hpp"
#include "browser/trackers/downloads.hpp"
#include "browser/trackers/load_state.hpp"
#include "browser/trackers/tab_tracker.hpp"

namespace vesk::browser {

// Default bound of one DevTools command; a request as a whole stays well inside the
// broker's 30 s wait.
inline constexpr std::chrono::milliseconds kCommandTimeout{10'000};

class Browser {
 public:
  // `work_dir` is private to this browser: uploads, download staging and default outputs
  // live under it. Each attached tab gets one tracker from each factory.
  Browser(DevToolsClient& client, std::filesystem::path work_dir,
          std::vector<TabTrackerFactory> tab_trackers = tab_tracker_factories());

  DevToolsClient& client() { return client_; }
  [[nodiscard]] const std::filesystem::path& work_dir() const { return work_dir_; }
  Downloads& downloads() { return *downloads_; }

  // Reads Chromium's page targets: new ones get ids, closed ones are dropped.
  std::expected<void, MethodError> refresh_tabs();
  // The open tabs in id order (after refresh_tabs).
  std::vector<Tab*> tabs();

  // The tab that params["tab"] names (its id as a string or number), or the current tab
  // when it is absent or null; a blank tab is opened when none is open. Attached.
  std::expected<Tab*, MethodError> tab_for(const Json& params);
  std::expected<Tab*, MethodError> find_tab(const std::string& id);
  std::expected<Tab*, MethodError> open_tab(const std::string& url);
  std::expected<void, MethodError> close_tab(Tab& tab);
  std::expected<void, MethodError> focus_tab(Tab& tab);
  // Attaches a DevTools session to the tab and starts its trackers.
  std::expected<void, MethodError> attach(Tab& tab);
  // The opening params of the JavaScript dialog open in the tab, if one is.
  std::optional<Json> open_dialog(const Tab& tab) const;
  // Watches the tab's page events from now on, to wait for the load of what comes next.
  LoadWatch watch_loads(Tab& tab);
  [[nodiscard]] std::string current_tab_id() const { return current_; }

  // A command on the tab's session. With stop_on_dialog the call ends with DialogOpen
  // as soon as a JavaScript dialog is open on the tab instead of waiting behind it. A
  // session Chromium no longer knows (the tab closed or crashed) is forgotten, so the
  // next use attaches again.
  CdpResult call(Tab& tab, const std::string& method, Json params,
                 std::chrono::milliseconds timeout = kCommandTimeout, bool stop_on_dialog = true);
  std::expected<CdpReply, CdpFailure> call_with_sequence(
      Tab& tab, const std::string& method, Json params,
      std::chrono::milliseconds timeout = kCommandTimeout, bool stop_on_dialog = true);
  // A command on another session of the tab (an iframe that runs in a process of its own);
  // an empty id or the tab's own means the tab's session.
  CdpResult call_in(Tab& tab, const std::string& session_id, const std::string& method, Json params,
                    std::chrono::milliseconds timeout = kCommandTimeout, bool stop_on_dialog = true);
  // A browser-level command.
  CdpResult call_browser(const std::string& method, Json params,
                         std::chrono::milliseconds timeout = kCommandTimeout);

 private:
  Tab* by_target(const std::string& target_id);
  void detach(Tab& tab);

  DevToolsClient& client_;
  std::filesystem::path work_dir_;
  std::vector<TabTrackerFactory> tab_trackers_;
  std::unique_ptr<Downloads> downloads_;
  Listener downloads_listener_;
  std::vector<std::unique_ptr<Tab>> tabs_;
  // Targets we closed: Chromium may list them for a moment longer; they get no new id.
  std::vector<std::string> closed_targets_;
  std::string current_;
  int next_tab_number_ = 1;
};

}  // namespace vesk::browser
