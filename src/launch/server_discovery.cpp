#include "launch/server_discovery.hpp"

#include <thread>

#include "base/log.hpp"
#include "launch/endpoint.hpp"
#include "launch/start_lock.hpp"

namespace vesk {

namespace {

bool same_record(const ServerRecord& a, const ServerRecord& b) {
  return a.host == b.host && a.port == b.port && a.pid == b.pid && a.started_at == b.started_at;
}

// Removes the record that was found unreachable. The state is loaded afresh so that a
// server which recorded itself since the probe began is not forgotten (it would keep
// running unrecorded while the next command starts yet another).
Status clear_server_record(const std::filesystem::path& state_path, const ServerRecord& unreachable) {
  return update_state(state_path, [&](State& state) -> Result<bool> {
    if (!state.server || !same_record(*state.server, unreachable)) return false;
    state.server.reset();
    return true;
  });
}

std::optional<UniqueSocket> connect_to_endpoint(const std::string& endpoint) {
  auto address = parse_socket_address(endpoint);
  if (!address) return std::nullopt;
  auto connected = connect_tcp(*address, kReachabilityTimeout);
  if (!connected) return std::nullopt;
  return std::move(*connected);
}

}  // namespace

bool endpoint_is_reachable(const std::string& endpoint) { return connect_to_endpoint(endpoint).has_value(); }

Result<std::optional<std::string>> probe_server(const std::filesystem::path& state_path) {
  auto state = load_state(state_path);
  if (!state) return fail(state.error());
  return probe_recorded_server(state_path, *state);
}

Result<std::optional<std::string>> probe_recorded_server(const std::filesystem::path& state_path, State& state) {
  if (!state.server) return std::optional<std::string>();
  const auto endpoint = endpoint_of(*state.server);
  if (endpoint_is_reachable(endpoint)) return std::optional<std::string>(endpoint);

  log_info("stored VeskApp server endpoint " + endpoint + " is not reachable; clearing it");
  if (auto cleared = clear_server_record(state_path, *state.server); !cleared) return fail(cleared.error());
  state.server.reset();
  return std::optional<std::string>();
}

std::optional<ServerConnection> connect_recorded_server(const std::filesystem::path& state_path) {
  auto state = load_state(state_path);
  if (!state || !state->server) return std::nullopt;
  std::string endpoint = endpoint_of(*state->server);
  auto fd = connect_to_endpoint(endpoint);
  if (!fd) return std::nullopt;
  return ServerConnection{std::move(endpoint), std::move(*fd)};
}

Result<Pid> start_background_server(const std::vector<std::string>& args) {
  auto self = current_executable_path();
  if (!self) return fail(self.error());
  log_info("starting background VeskApp server with " + self->string());
  auto child = spawn_detached(self->string(), args);
  if (!child) return fail(child.error().wrap("failed to start background VeskApp server"));
  return *child;
}

Result<std::string> ensure_server(const AppPaths& paths) {
  auto running = probe_server(paths.state_path);
  if (!running) return fail(running.error());
  if (*running) {
    log_info("using running VeskApp server at " + **running);
    return **running;
  }

  auto state = load_state(paths.state_path);
  if (!state) return fail(state.error());
  if (!state->server) log_info("no VeskApp server endpoint in state");

  auto lock = acquire_start_lock(paths.data_dir);
  if (!lock) return fail(lock.error());

  // Whoever held the lock before us may have started the server we need.
  auto started_meanwhile = probe_server(paths.state_path);
  if (!started_meanwhile) return fail(started_meanwhile.error());
  if (*started_meanwhile) {
    log_info("server became available while waiting for start lock at " + **started_meanwhile);
    return **started_meanwhile;
  }

  const auto started = std::chrono::steady_clock::now();
  auto child = start_background_server({"server", "--port", "0"});
  if (!child) return fail(child.error());
  // The child keeps running whatever happens here; it is never waited for.
  return wait_for_server_record(paths.state_path, *child, started);
}

Result<std::string> wait_for_server_record(const std::filesystem::path& state_path, Pid child,
                                           std::chrono::steady_clock::time_point started) {
  const auto deadline = started + kServerReadyWait;
  while (std::chrono::steady_clock::now() < deadline) {
    auto state = load_state(state_path);
    if (!state) return fail(state.error());
    if (state->server && state->server->port != 0) {
      const auto endpoint = endpoint_of(*state->server);
      if (endpoint_is_reachable(endpoint)) {
        if (state->server->pid == child) {
          log_info("background VeskApp server ready at " + endpoint);
        } else {
          log_info("using VeskApp server that became ready concurrently at " + endpoint);
        }
        return endpoint;
      }
    }
    std::this_thread::sleep_for(kServerReadyPoll);
  }
  return fail("background VeskApp server did not become ready", ErrorKind::TimedOut);
}

}  // namespace vesk
