#pragma once
// Replacing the recorded browser instances when the broker says no browser could take a
// request: every record not marked stopped is stale at once; their processes are killed
// and exactly one new instance is launched in their place.

#include "base/error.hpp"
#include "base/paths.hpp"
#include "store/state.hpp"

namespace vesk {

// True when stale instances were replaced by a new one; false when there were none.
Result<bool> restart_stale_instances(const AppPaths& paths);

// Kills the recorded instance's process tree if its pid still names that process;
// otherwise the process counts as gone and is left alone. `what` prefixes the log line
// ("terminating pid" / "terminating stale VeskBrowser pid").
Status stop_recorded_instance_process(const InstanceRecord& instance, const std::string& what);

}  // namespace vesk
