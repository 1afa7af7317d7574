#include "client/server_control.hpp"

#include "base/json.hpp"
#include "base/log.hpp"
#include "launch/recorded_process.hpp"
#include "launch/server_discovery.hpp"
#include "launch/start_lock.hpp"
#include "platform/process.hpp"
#include "render/render.hpp"
#include "store/state.hpp"

namespace vesk {

namespace {

// A data directory is bytes; JSON text must be Unicode. Invalid sequences become U+FFFD.
Json path_text(const std::filesystem::path& path) {
  const std::string bytes = path.string();
  if (is_valid_utf8(bytes)) return bytes;
  return Json::parse(Json(bytes).dump(-1, ' ', false, Json::error_handler_t::replace));
}

// Kills the recorded server unless its pid has since come to name another process.
// The server is this same executable, started no later than it recorded itself.
Status kill_recorded_server(const ServerRecord& server) {
  log_info("stopping VeskApp server pid " + std::to_string(server.pid));
  RecordedProcess recorded{server.pid, server.started_at, std::nullopt};
  if (auto self = current_executable_path()) recorded.executable = *self;
  if (!is_recorded_process(recorded)) {
    log_info("pid " + std::to_string(server.pid) + " is no longer the VeskApp server; treating it as already gone");
    return {};
  }
  return kill_process_tree(server.pid);
}

// Takes the server record out of the state, killing its process; returns the record.
Result<std::optional<ServerRecord>> take_down_recorded_server(const std::filesystem::path& state_path) {
  // Nothing recorded: nothing to lock or write (a fresh data directory stays unmade).
  auto recorded = load_state(state_path);
  if (!recorded) return fail(recorded.error());
  if (!recorded->server) return std::optional<ServerRecord>();
  std::optional<ServerRecord> server;
  auto taken = update_state(state_path, [&](State& state) -> Result<bool> {
    if (!state.server) return false;
    if (auto killed = kill_recorded_server(*state.server); !killed) return fail(killed.error());
    server = std::move(state.server);
    state.server.reset();
    return true;
  });
  if (!taken) return fail(taken.error());
  return server;
}

}  // namespace

Status show_status(const AppPaths& paths) {
  auto state = load_state(paths.state_path);
  if (!state) return fail(state.error());
  if (auto probed = probe_recorded_server(paths.state_path, *state); !probed) return fail(probed.error());
  return print_result(Json{
      {"app", "vesk"},
      {"dataDir", path_text(paths.data_dir)},
      {"instances", state->instances.size()},
      {"profiles", state->profiles.size()},
      {"server", state->server ? to_json(*state->server) : Json(nullptr)},
  });
}

Status stop_server(const AppPaths& paths) {
  auto stopped = take_down_recorded_server(paths.state_path);
  if (!stopped) return fail(stopped.error());
  if (!*stopped) return print_result(Json{{"ok", true}, {"stopped", false}});
  return print_result(Json{{"ok", true}, {"pid", (*stopped)->pid}, {"stopped", true}});
}

Status restart_server(const AppPaths& paths, const std::string& host, std::uint16_t port) {
  if (auto stopped = take_down_recorded_server(paths.state_path); !stopped) return fail(stopped.error());

  auto lock = acquire_start_lock(paths.data_dir);
  if (!lock) return fail(lock.error());
  auto running = probe_server(paths.state_path);
  if (!running) return fail(running.error());
  std::string endpoint;
  if (*running) {
    log_info("server became available while waiting for start lock at " + **running);
    endpoint = **running;
  } else {
    const auto started = std::chrono::steady_clock::now();
    auto child = start_background_server({"server", "--host", host, "--port", std::to_string(port)});
    if (!child) return fail(child.error());
    auto ready = wait_for_server_record(paths.state_path, *child, started);
    if (!ready) return fail(ready.error());
    endpoint = *ready;
  }
  lock->release();
  return print_result(Json{{"ok", true}, {"server", endpoint}});
}

}  // namespace vesk
