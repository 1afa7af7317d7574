#pragma once
// Replacing the recorded browser instances when the broker says no browser could take a
// request: every record not marked stopped and not on its way (starting, or coming back
// after a server restart) is stale; their processes are killed and exactly one new
// instance is launched in their place, unless one is on its way already.

#include <optional>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "base/paths.hpp"
#include "store/state.hpp"

namespace vesk {

struct Replacement {
  std::vector<std::string> replaced;  // the stale instances' ids, in file order
  std::optional<std::string> launched;  // the new instance; none when one was on its way
};

// What was replaced, or nullopt when nothing was stale.
Result<std::optional<Replacement>> restart_stale_instances(const AppPaths& paths);

// The one line a person reads on standard error when instances were replaced: which, and
// that their tabs are gone.
std::string replacement_notice(const Replacement& replacement);

// Kills the recorded instance's process tree if its pid still names that process;
// otherwise the process counts as gone and is left alone. `what` prefixes the log line
// ("terminating pid" / "terminating stale VeskBrowser pid").
Status stop_recorded_instance_process(const InstanceRecord& instance, const std::string& what);

}  // namespace vesk
