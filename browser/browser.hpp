#pragma once
// The browser as the methods see it: the DevTools transport, the open tabs with their
// short ids ("1", "2", ...) and DevTools sessions, and which tab is current. Tab ids are
// given in the order tabs are first seen and never reused while veskbrowser runs.
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
#include "browser/devtools_transport.hpp"
#include "browser/downloads.hpp"
#include "browser/method_result.hpp"

namespace vesk::browser {

// Default bound of one DevTools command; a request as a whole stays well inside the
// broker's 30 s wait.
inline constexpr std::chrono::milliseconds kCommandTimeout{10'000};

// What a snapshot remembers between requests on one tab: the refs given to elements of
// the current document and the previous snapshot's nodes (for "diff").
struct SnapshotState {
  std::string document_key;
  std::map<std::int64_t, std::string> ref_of_node;  // backendDOMNodeId -> "e3"
  std::map<std::string, std::int64_t> node_of_ref;
  int next_ref = 1;
  std::optional<Json> previous_nodes;
};

struct Tab {
  std::string id;
  std::string target_id;
  std::string session_id;  // empty until attached
  std::string url;
  std::string title;
  SnapshotState snapshot;
  std::vector<std::string> blocked_url_patterns;
  // Where our last mouse event left the pointer, for "mouse down" without coordinates.
  double mouse_x = 0;
  double mouse_y = 0;
};

class Browser {
 public:
  // `work_dir` is private to this browser: uploads, download staging and default outputs
  // live under it.
  Browser(DevToolsTransport& transport, std::filesystem::path work_dir);

  DevToolsTransport& transport() { return transport_; }
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
  std::expected<void, MethodError> attach(Tab& tab);
  [[nodiscard]] std::string current_tab_id() const { return current_; }

  // A command on the tab's session. With stop_on_dialog the call ends with DialogOpen
  // as soon as a JavaScript dialog is open on the tab instead of waiting behind it.
  CdpResult call(Tab& tab, const std::string& method, Json params,
                 std::chrono::milliseconds timeout = kCommandTimeout, bool stop_on_dialog = true);
  std::expected<CdpReply, CdpFailure> call_with_sequence(
      Tab& tab, const std::string& method, Json params,
      std::chrono::milliseconds timeout = kCommandTimeout, bool stop_on_dialog = true);
  // A browser-level command.
  CdpResult call_browser(const std::string& method, Json params,
                         std::chrono::milliseconds timeout = kCommandTimeout);

 private:
  Tab* by_target(const std::string& target_id);

  DevToolsTransport& transport_;
  std::filesystem::path work_dir_;
  std::unique_ptr<Downloads> downloads_;
  std::vector<std::unique_ptr<Tab>> tabs_;
  // Targets we closed: Chromium may list them for a moment longer; they get no new id.
  std::vector<std::string> closed_targets_;
  std::string current_;
  int next_tab_number_ = 1;
};

}  // namespace vesk::browser
