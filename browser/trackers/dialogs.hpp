#pragma once
// The JavaScript dialog (alert, confirm, prompt, beforeunload) open in a tab, from
// Page.javascriptDialogOpening until Page.javascriptDialogClosed. While one is open,
// Chromium holds back the replies of script evaluation and input events on the tab, so
// the tracker is also the interrupt that ends such calls (see CallInterrupt).

#include <mutex>
#include <optional>

#include "browser/trackers/tab_tracker.hpp"

namespace vesk::browser {

class DialogTracker : public TabTracker, public CallInterrupt {
 public:
  void on_event(const CdpEvent& event) override;
  // DialogOpen with the dialog's opening params while one is open.
  std::optional<CdpFailure> interrupted(const std::string& method) const override;
  // The opening params ({type, message, defaultPrompt, url}) of the open dialog.
  [[nodiscard]] std::optional<Json> open() const;

 private:
  mutable std::mutex mutex_;
  std::optional<Json> open_;  // guarded by mutex_
};

std::unique_ptr<TabTracker> make_dialog_tracker(const TabTrackerContext& context);

}  // namespace vesk::browser
