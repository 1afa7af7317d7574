#include "launch/stale_instances.hpp"

#include <algorithm>

#include "base/log.hpp"
#include "launch/launch_instance.hpp"
#include "launch/recorded_process.hpp"
#include "platform/process.hpp"

namespace vesk {

namespace {

RecordedProcess recorded_process_of(const InstanceRecord& instance) {
  RecordedProcess recorded{instance.pid.value_or(0), instance.created_at, std::nullopt};
  if (instance.browser_binary) recorded.executable = resolve_executable(*instance.browser_binary);
  return recorded;
}

// The browser to relaunch with: the record's own, else what its process runs (asked
// before anything is killed), else VESK_BROWSER_BINARY, else "veskbrowser".
std::string browser_for_relaunch(const InstanceRecord& first) {
  if (first.browser_binary) return *first.browser_binary;
  // A pid that now names an unrelated program must not make us launch that program.
  if (first.pid && is_recorded_process(recorded_process_of(first))) {
    if (auto image = process_image_path(*first.pid)) return image->string();
  }
  if (auto from_env = process_env("VESK_BROWSER_BINARY")) return *from_env;
  return "veskbrowser";
}

}  // namespace

Status stop_recorded_instance_process(const InstanceRecord& instance, const std::string& what) {
  if (!instance.pid) return {};
  if (!is_recorded_process(recorded_process_of(instance))) {
    log_info("pid " + std::to_string(*instance.pid) + " of instance " + instance.id +
             " no longer runs its browser; treating it as already gone");
    return {};
  }
  log_info(what + " " + std::to_string(*instance.pid) + " for instance " + instance.id);
  return kill_process_tree(*instance.pid);
}

Result<bool> restart_stale_instances(const AppPaths& paths) {
  auto state = load_state(paths.state_path);
  if (!state) return fail(state.error());
  std::vector<InstanceRecord> stale;
  for (const auto& instance : state->instances) {
    if (instance.status != InstanceStatus::Stopped) stale.push_back(instance);
  }
  if (stale.empty()) return false;
  log_info("detected " + std::to_string(stale.size()) + " stale VeskBrowser instance(s); restarting before retry");

  LaunchOptions relaunch;
  relaunch.profile = stale.front().profile_id;
  relaunch.mode = stale.front().mode;
  relaunch.browser_binary = browser_for_relaunch(stale.front());

  for (const auto& instance : stale) {
    if (instance.pid && process_is_alive(*instance.pid)) {
      if (auto stopped = stop_recorded_instance_process(instance, "terminating stale VeskBrowser pid"); !stopped) {
        return fail(stopped.error());
      }
    }
    std::erase_if(state->instances, [&](const InstanceRecord& r) { return r.id == instance.id; });
  }
  if (auto saved = save_state(paths.state_path, *state); !saved) return fail(saved.error());

  auto launched = launch_instance(paths, relaunch);
  if (!launched) return fail(launched.error());
  return true;
}

}  // namespace vesk
