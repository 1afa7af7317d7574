#include "launch/stale_instances.hpp"

#include <algorithm>

#include "base/log.hpp"
#include "launch/coming_instances.hpp"
#include "launch/launch_instance.hpp"
#include "launch/recorded_process.hpp"
#include "platform/process.hpp"

namespace vesk {

namespace {

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

Result<std::optional<Replacement>> restart_stale_instances(const AppPaths& paths) {
  LaunchOptions relaunch;
  Replacement replacement;
  bool one_is_coming = false;
  auto cleared = update_state(paths.state_path, [&](State& state) -> Result<bool> {
    const auto now = std::chrono::system_clock::now();
    std::vector<InstanceRecord> stale;
    for (const auto& instance : state.instances) {
      if (instance.status == InstanceStatus::Stopped) continue;
      if (coming_instance(instance, state, now)) {
        one_is_coming = true;
      } else {
        stale.push_back(instance);
      }
    }
    if (stale.empty()) return false;
    log_info("detected " + std::to_string(stale.size()) + " stale VeskBrowser instance(s); restarting before retry");
    relaunch.profile = stale.front().profile_id;
    relaunch.mode = stale.front().mode;
    relaunch.browser_binary = browser_for_relaunch(stale.front());
    for (const auto& instance : stale) {
      if (instance.pid && process_is_alive(*instance.pid)) {
        if (auto stopped = stop_recorded_instance_process(instance, "terminating stale VeskBrowser pid"); !stopped) {
          return fail(stopped.error());
        }
      }
      std::erase_if(state.instances, [&](const InstanceRecord& r) { return r.id == instance.id; });
      replacement.replaced.push_back(instance.id);
    }
    return true;
  });
  if (!cleared) return fail(cleared.error());
  if (replacement.replaced.empty()) return std::optional<Replacement>();
  // One browser on its way serves the request; another launch would make two.
  if (one_is_coming) return std::optional<Replacement>(replacement);

  auto launched = launch_instance(paths, relaunch);
  if (!launched) return fail(launched.error());
  replacement.launched = launched->id;
  return std::optional<Replacement>(replacement);
}

std::string replacement_notice(const Replacement& replacement) {
  std::string ids;
  for (const auto& id : replacement.replaced) ids += (ids.empty() ? "" : ", ") + id;
  const bool one = replacement.replaced.size() == 1;
  std::string line = std::string(one ? "browser instance " : "browser instances ") + ids +
                     (one ? " could not be reached and was replaced" : " could not be reached and were replaced");
  if (replacement.launched) line += " by " + *replacement.launched;
  line += one ? "; its tabs are gone" : "; their tabs are gone";
  return line;
}

}  // namespace vesk
