#pragma once
// The console messages of a tab (console.log, console.error, ...), from the moment the
// tab is attached; Chromium replays the messages a page logged before that when Runtime is
// enabled, so nothing logged since the page loaded is missed. Kept in a ring of the newest
// kCapacity messages, each text cut at kMaxText characters.

#include <string>

#include "base/json.hpp"
#include "browser/trackers/bounded_log.hpp"
#include "browser/trackers/tab_tracker.hpp"

namespace vesk::browser {

struct ConsoleMessage {
  std::string level;  // "error", "warning", "info" or "debug"
  std::string type;   // the console function: "log", "error", "table", "assert", ...
  std::string text;   // the arguments rendered as the DevTools console shows them
  std::string url;    // where it was logged, when known
  int line = 0;       // 1-based; 0 when unknown
  int column = 0;     // 1-based; 0 when unknown
  double time_ms = 0;  // milliseconds since the epoch
};

// The rank of a level ("debug" 0 ... "error" 3), or -1 for a word that is none.
int console_level_rank(const std::string& level);
// The level of a console function ("warn" is "warning", "assert" is "error", ...).
std::string console_level_of(const std::string& type);
// A console call's arguments (Runtime.RemoteObject values) as one line of text: format
// specifiers (%s %d %i %f %o %O %c) in a first string argument are filled in, the other
// arguments follow, separated by spaces; objects show their preview ({a: 1}, [1, 2]).
std::string render_console_args(const Json& args);
// An ISO 8601 UTC time for milliseconds since the epoch.
std::string console_time_text(double time_ms);

class ConsoleTracker : public LogTracker<ConsoleMessage> {
 public:
  static constexpr std::size_t kCapacity = 1000;
  static constexpr std::size_t kMaxText = 10'000;

  ConsoleTracker() : LogTracker(kCapacity) {}
  std::expected<void, CdpFailure> start(const TabTrackerContext& context) override;
  void on_event(const CdpEvent& event) override;
};

std::unique_ptr<TabTracker> make_console_tracker(const TabTrackerContext& context);

// Runtime.enable on the tab's session (console and errors both need it; enabling twice is
// harmless).
std::expected<void, CdpFailure> enable_runtime(const TabTrackerContext& context);

}  // namespace vesk::browser
