#pragma once
// One open tab as the methods see it: its short id ("1"), Chromium's target and session,
// the snapshot refs given in it, its trackers, and per-tab state of the method families.
// Everything here is dropped with the tab, so no family adds members to this type: a
// family keeps what it remembers per tab in its own struct through `state<T>()`, and what
// events feed in a tracker (trackers/).

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <typeindex>
#include <vector>

#include "base/json.hpp"
#include "browser/chromium/devtools_client.hpp"
#include "browser/trackers/tab_tracker.hpp"

namespace vesk::browser {

// What snapshots remember between requests on one tab: the refs given to elements of the
// current document and the previous snapshot's nodes (for "diff"). Element lookup reads
// the refs, so it lives with the tab.
struct SnapshotState {
  std::string document_key;
  std::map<std::int64_t, std::string> ref_of_node;  // backendDOMNodeId -> "e3"
  std::map<std::string, std::int64_t> node_of_ref;
  int next_ref = 1;
  // The highest ref number any document of this tab was given, so a ref that was never
  // given ("e99") is told apart from one whose element is gone.
  int highest_ref_on_tab = 0;
  std::optional<Json> previous_nodes;
};

struct Tab {
  std::string id;
  std::string target_id;
  std::string session_id;  // empty until attached
  std::string url;
  std::string title;
  SnapshotState snapshot;

  // The tab's tracker of that kind; nullptr before the tab is attached.
  template <class T>
  T* tracker() const {
    for (const auto& tracker : trackers) {
      if (auto* found = dynamic_cast<T*>(tracker.get())) return found;
    }
    return nullptr;
  }

  // The family's per-tab state, default-constructed on first use.
  template <class T>
  T& state() {
    auto& slot = states[std::type_index(typeid(T))];
    if (!slot) slot = std::make_shared<T>();
    return *static_cast<T*>(slot.get());
  }

  // Set by Browser::attach. The listener is declared last so that it goes first: no event
  // reaches a tracker being destroyed.
  std::vector<std::unique_ptr<TabTracker>> trackers;
  Listener listener;

 private:
  std::map<std::type_index, std::shared_ptr<void>> states;
};

}  // namespace vesk::browser
