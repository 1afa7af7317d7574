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
  // The tab a request's params["tab"] names, or the current tab, among the tabs already
  // known: no refresh, no attach. Null when there is none (or "tab" is no tab id).
  Tab* known_tab(const Json& params);
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
  // call_in() for a large reply of which the caller reads a small part: the reply is
  // parsed through `reply_filter` (see CallOptions::reply_filter).
  CdpResult call_in_filtered(Tab& tab, const std::string& session_id, const std::string& method, Json params,
                             Json::parser_callback_t reply_filter);
  // call_in_filtered() in two steps: the command is sent now, its reply awaited with
  // finish_call(), so that the page can work on it while the caller sends others.
  std::expected<SentCall, CdpFailure> start_call_in_filtered(Tab& tab, const std::string& session_id,
                                                             const std::string& method, Json params,
                                                             Json::parser_callback_t reply_filter);
  CdpResult finish_call(Tab& tab, SentCall& call);
  // A command on the tab's session whose answer nobody waits for: Chromium runs a session's
  // commands in order, so the next awaited command on the session still follows it, and a
  // failure shows there.
  void send(Tab& tab, const std::string& method, Json params);
  // A browser-level command.
  CdpResult call_browser(const std::string& method, Json params,
                         std::chrono::milliseconds timeout = kCommandTimeout);

  // Remote objects a method creates in the page (element handles, script results) stay
  // alive in the renderer until released. `in_call_group` puts the objects of a command on
  // the session (empty: the tab's own) in the object group of the current request;
  // `release_call_objects` releases that group wherever it holds objects, once the request
  // is answered, so a long session does not grow the renderer's memory.
  Json in_call_group(Tab& tab, const std::string& session_id, Json params);
  void release_call_objects();
  // Releases an object group on the session (empty: the tab's own) without waiting for the
  // answer: a page busy with work a command started must neither delay the command's answer
  // nor be taken for a stuck one.
  void release_object_group(Tab& tab, const std::string& session_id, const std::string& group);

 private:
  Tab* by_target(const std::string& target_id);
  void detach(Tab& tab);
  // After a call on `session_id` (the tab's or one of its frames') timed out: when the page
  // does not answer either (a script that never ends holds its thread) and no dialog of
  // the tab holds it, stop its script so the tab serves again, and mark `failure` so.
  void stop_busy_script(const Tab& tab, const std::string& session_id, CdpFailure& failure);

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
  // Sessions whose call object group holds objects, with the id of their tab.
  std::map<std::string, std::string> sessions_with_call_objects_;
};

}  // namespace vesk::browser
