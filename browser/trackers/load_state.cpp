#include "browser/trackers/load_state.hpp"

namespace vesk::browser {

namespace {

bool is_main_frame_event(const CdpEvent& event, const std::string& target_id) {
  if (event.method == "Page.frameNavigated") {
    return !event.params.value("frame", Json::object()).contains("parentId");
  }
  if (event.method == "Page.frameStartedLoading" || event.method == "Page.frameRequestedNavigation" ||
      event.method == "Page.navigatedWithinDocument") {
    // A page target's main frame has the target's id.
    return event.params.value("frameId", "") == target_id;
  }
  return false;
}

// Events that end a navigation without a load event: a same-document navigation and a
// page restored from the back-forward cache.
bool is_finished(const CdpEvent& event, const std::string& target_id) {
  if (event.method == "Page.navigatedWithinDocument") return event.params.value("frameId", "") == target_id;
  return event.method == "Page.frameNavigated" &&
         event.params.value("type", "") == "BackForwardCacheRestore" &&
         !event.params.value("frame", Json::object()).contains("parentId");
}

}  // namespace

LoadWatch::LoadWatch(DevToolsClient& client, const std::string& session_id, std::string target_id,
                     const DialogTracker* dialogs)
    : target_id_(std::move(target_id)), dialogs_(dialogs) {
  events_ = client.subscribe([session_id](const CdpEvent& event) {
    return event.session_id == session_id && event.method.starts_with("Page.");
  });
}

std::optional<Json> LoadWatch::open_dialog() const {
  return dialogs_ != nullptr ? dialogs_->open() : std::nullopt;
}

LoadOutcome LoadWatch::wait_for_load(std::uint64_t after_sequence, Deadline deadline) {
  LoadOutcome outcome;
  outcome.navigated = true;
  if (auto dialog = open_dialog()) {
    outcome.dialog = dialog;
    return outcome;
  }
  auto event = events_->wait_for(
      [&](const CdpEvent& e) {
        return e.sequence > after_sequence &&
               (e.method == "Page.loadEventFired" || e.method == "Page.javascriptDialogOpening");
      },
      deadline);
  if (event && event->method == "Page.javascriptDialogOpening") {
    outcome.dialog = event->params;
  } else if (event) {
    outcome.loaded = true;
  }
  return outcome;
}

LoadOutcome LoadWatch::wait_for_navigation(Deadline start_deadline, Deadline load_deadline) {
  LoadOutcome outcome;
  auto started = events_->wait_for(
      [&](const CdpEvent& e) {
        return e.method == "Page.javascriptDialogOpening" || e.method == "Page.loadEventFired" ||
               is_main_frame_event(e, target_id_);
      },
      start_deadline);
  if (!started) {
    if (auto dialog = open_dialog()) outcome.dialog = dialog;
    return outcome;
  }
  outcome.navigated = true;
  if (started->method == "Page.javascriptDialogOpening") {
    outcome.dialog = started->params;
    return outcome;
  }
  if (started->method == "Page.loadEventFired") {
    outcome.loaded = true;
    return outcome;
  }
  if (is_finished(*started, target_id_)) {
    outcome.loaded = true;
    return outcome;
  }
  // The navigation started: it ends with a load event, or stays in the document.
  auto finished = events_->wait_for(
      [&](const CdpEvent& e) {
        return e.method == "Page.javascriptDialogOpening" || e.method == "Page.loadEventFired" ||
               is_finished(e, target_id_);
      },
      load_deadline);
  if (finished && finished->method == "Page.javascriptDialogOpening") {
    outcome.dialog = finished->params;
  } else if (finished) {
    outcome.loaded = true;
  }
  return outcome;
}

}  // namespace vesk::browser
