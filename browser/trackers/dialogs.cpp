#include "browser/trackers/dialogs.hpp"

namespace vesk::browser {

void DialogTracker::on_event(const CdpEvent& event) {
  std::lock_guard lock(mutex_);
  if (event.method == "Page.javascriptDialogOpening") {
    open_ = event.params;
  } else if (event.method == "Page.javascriptDialogClosed") {
    open_.reset();
  }
}

std::optional<CdpFailure> DialogTracker::interrupted(const std::string& method) const {
  std::lock_guard lock(mutex_);
  if (!open_) return std::nullopt;
  return CdpFailure{CdpFailureKind::DialogOpen, method + ": a JavaScript dialog is open", *open_, 0};
}

std::optional<Json> DialogTracker::open() const {
  std::lock_guard lock(mutex_);
  return open_;
}

std::unique_ptr<TabTracker> make_dialog_tracker(const TabTrackerContext&) {
  return std::make_unique<DialogTracker>();
}

}  // namespace vesk::browser
