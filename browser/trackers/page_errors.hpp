#pragma once
// The uncaught exceptions and unhandled promise rejections of a tab
// (Runtime.exceptionThrown), with their stacks. A rejection that the page handles after all
// (Runtime.exceptionRevoked) is taken off the list. Chromium replays those thrown before the
// tab was attached when Runtime is enabled. A ring of the newest kCapacity errors.

#include <string>
#include <vector>

#include "base/json.hpp"
#include "browser/trackers/bounded_log.hpp"
#include "browser/trackers/tab_tracker.hpp"

namespace vesk::browser {

struct StackFrame {
  std::string function;  // empty for top-level code
  std::string url;
  int line = 0;    // 1-based
  int column = 0;  // 1-based
};

struct PageError {
  std::string message;  // "Error: boom", "Uncaught (in promise) Error: no"
  std::vector<StackFrame> stack;  // innermost first
  std::string url;
  int line = 0;
  int column = 0;
  double time_ms = 0;  // milliseconds since the epoch
  int exception_id = 0;  // Chromium's id, which a later Runtime.exceptionRevoked names
};

// The error a Runtime.exceptionThrown event reports.
PageError page_error_of(const Json& event_params);

class PageErrorTracker : public LogTracker<PageError> {
 public:
  static constexpr std::size_t kCapacity = 1000;
  static constexpr std::size_t kMaxFrames = 50;

  PageErrorTracker() : LogTracker(kCapacity) {}
  std::expected<void, CdpFailure> start(const TabTrackerContext& context) override;
  void on_event(const CdpEvent& event) override;
};

std::unique_ptr<TabTracker> make_page_error_tracker(const TabTrackerContext& context);

}  // namespace vesk::browser
