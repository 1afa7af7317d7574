#pragma once
// The "instance" commands: start one browser instance, list the recorded ones, stop one.
// Each prints its outcome as indented JSON on standard output.

#include <string>

#include "base/error.hpp"
#include "base/paths.hpp"
#include "launch/launch_instance.hpp"

namespace vesk {

// Launches and prints the new record.
Status start_instance_command(const AppPaths& paths, const LaunchOptions& options);
// Prints the array of all instance records, in file order.
Status list_instances_command(const AppPaths& paths);
// Kills the first record's process (when it is still that process), removes every record
// with the id, and prints {"stopped": id}. "instance not found: {id}" when there is none.
Status stop_instance_command(const AppPaths& paths, const std::string& id);

}  // namespace vesk
