#pragma once
// A tab tracker keeps per-tab state that the tab's DevTools events feed: an open dialog,
// the console messages, the requests. The browser creates one of each registered kind
// (see tab_trackers.cpp) when it attaches to a tab, feeds it every event of the tab's
// session from then on, and drops it with the tab.
//
// Threads: on_event runs on the DevTools reader thread; everything else on the serving
// thread. A tracker guards the state both touch with its own mutex, and never calls the
// client from on_event (the reply could only be read by the thread it would block).

#include <expected>
#include <memory>
#include <string>
#include <vector>

#include "browser/chromium/devtools_client.hpp"

namespace vesk::browser {

// What a tracker knows of its tab.
struct TabTrackerContext {
  DevToolsClient& client;
  std::string tab_id;      // "1"
  std::string target_id;   // Chromium's target id (the main frame's id)
  std::string session_id;  // the flat session the tab's commands and events carry
};

class TabTracker {
 public:
  virtual ~TabTracker() = default;
  // Enables what the tracker needs (Runtime.enable, Network.enable, ...). Called on the
  // serving thread once events already reach on_event.
  virtual std::expected<void, CdpFailure> start(const TabTrackerContext&) { return {}; }
  // One event of the tab's session (reader thread).
  virtual void on_event(const CdpEvent& event) = 0;
};

using TabTrackerFactory = std::unique_ptr<TabTracker> (*)(const TabTrackerContext&);

// Every kind of tab tracker, in the order they are created and fed.
std::vector<TabTrackerFactory> tab_tracker_factories();

}  // namespace vesk::browser
