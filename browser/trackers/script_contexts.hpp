#pragma once
// The main-world script context of each frame that runs in the tab's own process, from the
// Runtime events of the tab's session. Chromium reports the contexts that exist already
// only in answer to the first Runtime.enable of a session, and other trackers (the console
// log) enable Runtime as the tab is attached, so the contexts are learnt here, from the
// start, rather than by whoever needs them first.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "browser/trackers/tab_tracker.hpp"

namespace vesk::browser {

// Applies one Runtime.executionContext* event to a map of frame id to default context id.
void apply_context_event(std::map<std::string, std::int64_t>& context_of_frame, const CdpEvent& event);

class ScriptContextTracker : public TabTracker {
 public:
  std::expected<void, CdpFailure> start(const TabTrackerContext& context) override;
  void on_event(const CdpEvent& event) override;
  // The frame's context; for a frame that has just been created, waits for it until the
  // deadline.
  std::optional<std::int64_t> context_of(const std::string& frame_id, Deadline deadline) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::map<std::string, std::int64_t> context_of_frame_;  // guarded by mutex_
};

std::unique_ptr<TabTracker> make_script_context_tracker(const TabTrackerContext& context);

}  // namespace vesk::browser
