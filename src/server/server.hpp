#pragma once
// `vesk server`: prepares the data directory and the state file, listens, records its
// endpoint for the clients, announces readiness on standard output and then serves every
// connection on its own thread until the process is ended from outside.

#include <cstdint>
#include <string>

#include "base/error.hpp"
#include "base/paths.hpp"

namespace vesk {

// Returns only with an error from the start-up; once serving it never returns.
Status run_server(const AppPaths& paths, const std::string& host, std::uint16_t port);

}  // namespace vesk
