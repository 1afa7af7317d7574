// The registered kinds of tab trackers. To add one: write trackers/<name>.{hpp,cpp} with a
// TabTracker subclass and a make_<name>_tracker factory, and add one line below. A
// method reads it with `tab.tracker<ItsClass>()`.
#include "browser/trackers/console.hpp"
#include "browser/trackers/dialogs.hpp"
#include "browser/trackers/page_errors.hpp"
#include "browser/trackers/script_contexts.hpp"
#include "browser/trackers/network.hpp"
#include "browser/trackers/screencast.hpp"
#include "browser/trackers/tab_tracker.hpp"

namespace vesk::browser {

std::vector<TabTrackerFactory> tab_tracker_factories() {
  return {
      make_dialog_tracker,
      make_script_context_tracker,
      make_console_tracker,
      make_page_error_tracker,
      make_network_tracker,
      make_screencast_tracker,
  };
}

}  // namespace vesk::browser
