#include "browser/trackers/script_contexts.hpp"

namespace vesk::browser {

void apply_context_event(std::map<std::string, std::int64_t>& context_of_frame, const CdpEvent& event) {
  if (event.method == "Runtime.executionContextCreated") {
    const Json context = event.params.value("context", Json::object());
    const Json aux = context.value("auxData", Json::object());
    if (aux.value("isDefault", false)) context_of_frame[aux.value("frameId", "")] = context.value("id", std::int64_t{0});
  } else if (event.method == "Runtime.executionContextDestroyed") {
    const auto id = event.params.value("executionContextId", std::int64_t{-1});
    std::erase_if(context_of_frame, [&](const auto& entry) { return entry.second == id; });
  } else if (event.method == "Runtime.executionContextsCleared") {
    context_of_frame.clear();
  }
}

std::expected<void, CdpFailure> ScriptContextTracker::start(const TabTrackerContext& context) {
  CallOptions options;
  options.session_id = context.session_id;
  auto enabled = context.client.call("Runtime.enable", Json::object(), options);
  if (!enabled) return std::unexpected(enabled.error());
  return {};
}

void ScriptContextTracker::on_event(const CdpEvent& event) {
  if (!event.method.starts_with("Runtime.executionContext")) return;
  {
    std::lock_guard lock(mutex_);
    apply_context_event(context_of_frame_, event);
  }
  changed_.notify_all();
}

std::optional<std::int64_t> ScriptContextTracker::context_of(const std::string& frame_id, Deadline deadline) const {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_until(lock, deadline, [&] { return context_of_frame_.contains(frame_id); })) return std::nullopt;
  return context_of_frame_.at(frame_id);
}

std::unique_ptr<TabTracker> make_script_context_tracker(const TabTrackerContext&) {
  return std::make_unique<ScriptContextTracker>();
}

}  // namespace vesk::browser
