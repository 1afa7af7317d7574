#pragma once
// Waiting for a tab's loads. Every wait is bounded, and stops early when a JavaScript
// dialog opens (the page is then blocked). A page restored from the back-forward cache
// and a same-document navigation end without a load event; both count as loaded.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/json.hpp"
#include "browser/chromium/devtools_client.hpp"
#include "browser/trackers/dialogs.hpp"

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
  LoadWatch(DevToolsClient& client, const std::string& session_id, std::string target_id,
            const DialogTracker* dialogs);
  // Waits for a load event that arrived after `after_sequence`.
  LoadOutcome wait_for_load(std::uint64_t after_sequence, Deadline deadline);
  // Waits up to `start_deadline` for a main-frame navigation to start, then for its load
  // until `load_deadline`. For actions that may or may not navigate.
  LoadOutcome wait_for_navigation(Deadline start_deadline, Deadline load_deadline);

 private:
  std::optional<Json> open_dialog() const;

  std::string target_id_;
  const DialogTracker* dialogs_;
  std::shared_ptr<EventQueue> events_;
};

}  // namespace vesk::browser
