#pragma once
// The local commands about the broker server: "health"/"status" report on it, "server
// stop" kills it, "server restart" kills it and starts a new one on a given address.
// They work through the state file and processes only; no request is sent.

#include <cstdint>
#include <string>

#include "base/error.hpp"
#include "base/paths.hpp"

namespace vesk {

// Clears an unreachable server record, then prints app, dataDir, instance and profile
// counts and the server record (or null).
Status show_status(const AppPaths& paths);
// Prints {"ok": true, "stopped": false} when no server is recorded, otherwise kills the
// recorded server (if the pid still names it), clears the record and prints
// {"ok": true, "pid": pid, "stopped": true}.
Status stop_server(const AppPaths& paths);
// Stops the recorded server, then under the start lock starts "server --host H --port P"
// unless another process started one meanwhile; prints {"ok": true, "server": endpoint}.
Status restart_server(const AppPaths& paths, const std::string& host, std::uint16_t port);

}  // namespace vesk
