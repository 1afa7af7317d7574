#include "launch/instance_commands.hpp"

#include <algorithm>

#include "base/log.hpp"
#include "launch/stale_instances.hpp"
#include "render/render.hpp"
#include "store/state.hpp"

namespace vesk {

Status start_instance_command(const AppPaths& paths, const LaunchOptions& options) {
  auto record = launch_instance(paths, options);
  if (!record) return fail(record.error());
  return print_result(to_json(*record));
}

Status list_instances_command(const AppPaths& paths) {
  log_info("listing instances");
  auto state = load_state(paths.state_path);
  if (!state) return fail(state.error());
  log_info("found " + std::to_string(state->instances.size()) + " instances");
  Json listing = Json::array();
  for (const auto& instance : state->instances) listing.push_back(to_json(instance));
  return print_result(listing);
}

Status stop_instance_command(const AppPaths& paths, const std::string& id) {
  log_info("stopping instance " + id);
  auto stopped = update_state(paths.state_path, [&](State& state) -> Result<bool> {
    auto found = std::ranges::find(state.instances, id, &InstanceRecord::id);
    if (found == state.instances.end()) return fail("instance not found: " + id, ErrorKind::NotFound);
    if (auto killed = stop_recorded_instance_process(*found, "terminating pid"); !killed) return fail(killed.error());
    std::erase_if(state.instances, [&](const InstanceRecord& r) { return r.id == id; });
    return true;
  });
  if (!stopped) return fail(stopped.error());
  log_info("instance " + id + " stopped and removed from state");
  return print_result(Json{{"stopped", id}});
}

}  // namespace vesk
