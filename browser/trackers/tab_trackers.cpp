// The registered kinds of tab trackers. To add one: write trackers/<name>.{hpp,cpp} with a
// TabTracker subclass and a make_<name>_tracker factory, and add one line below. A
// method reads it with `tab.tracker<ItsClass>()`.
#include "browser/trackers/dialogs.hpp"
#include "browser/trackers/network.hpp"
#include "browser/trackers/tab_tracker.hpp"

namespace vesk::browser {

std::vector<TabTrackerFactory> tab_tracker_factories() {
  return {
      make_dialog_tracker,
      make_network_tracker,
  };
}

}  // namespace vesk::browser
