#include "launch/launch_instance.hpp"

#include <algorithm>

#include "base/json.hpp"
#include "base/log.hpp"
#include "launch/endpoint.hpp"
#include "launch/instance_ids.hpp"
#include "launch/server_discovery.hpp"
#include "platform/process.hpp"
#include "platform/socket.hpp"

namespace vesk {

namespace {

std::string mode_title(BrowserMode mode) { return mode == BrowserMode::Headed ? "Headed" : "Headless"; }

// The broker endpoint the browser is told to connect to: both halves given explicitly,
// or a reachable server's endpoint with whichever half was given replacing its own.
Result<HostAndPort> choose_server_endpoint(const AppPaths& paths, const LaunchOptions& options) {
  if (options.server_host && options.server_port) {
    HostAndPort chosen{*options.server_host, *options.server_port};
    log_info("using explicit VeskApp server endpoint " + chosen.host + ":" + std::to_string(chosen.port));
    return chosen;
  }
  auto endpoint = ensure_server(paths);
  if (!endpoint) return fail(endpoint.error());
  auto chosen = split_endpoint(*endpoint);
  if (options.server_host) chosen.host = *options.server_host;
  if (options.server_port) chosen.port = *options.server_port;
  const bool partial = options.server_host || options.server_port;
  log_info(std::string(partial ? "using partial server override with reachable VeskApp server endpoint "
                               : "using reachable VeskApp server endpoint ") +
           chosen.host + ":" + std::to_string(chosen.port));
  return chosen;
}

// Takes back the record of a launch whose process did not start.
void forget_instance(const AppPaths& paths, const std::string& id) {
  auto forgotten = update_state(paths.state_path, [&](State& state) -> Result<bool> {
    return std::erase_if(state.instances, [&](const InstanceRecord& r) { return r.id == id; }) > 0;
  });
  if (!forgotten) log_info("failed to remove the record of instance " + id + ": " + forgotten.error().text());
}

}  // namespace

std::filesystem::path browser_profile_dir(const std::filesystem::path& data_dir, const std::string& profile_id) {
  return data_dir / "browser-profiles" / profile_id;
}

std::vector<std::string> browser_arguments(const std::string& server_host, std::uint16_t server_port,
                                           const InstanceRecord& record,
                                           const std::filesystem::path& user_data_dir) {
  return {
      "--vesk-host=" + server_host,
      "--vesk-port=" + std::to_string(server_port),
      "--vesk-token=" + record.token,
      "--vesk-instance-id=" + record.id,
      "--vesk-profile-id=" + record.profile_id,
      "--user-data-dir=" + user_data_dir.string(),
      record.mode == BrowserMode::Headed ? "--headed" : "--headless=new",
  };
}

Result<std::uint16_t> allocate_loopback_port() {
  auto listener = TcpListener::bind("127.0.0.1:0");
  if (!listener) return fail(listener.error());
  return listener->local_port();
}

Result<InstanceRecord> launch_instance(const AppPaths& paths, const LaunchOptions& options) {
  // The record must be savable, or the browser would run on unrecorded and unstoppable.
  if (!is_valid_utf8(options.browser_binary)) {
    return fail(Error("path contains invalid UTF-8 characters").wrap("failed to start VeskBrowser: " +
                                                                     options.browser_binary));
  }
  // Read first: an unreadable state file stops the launch before anything starts.
  if (auto state = load_state(paths.state_path); !state) return fail(state.error());
  auto server = choose_server_endpoint(paths, options);
  if (!server) return fail(server.error());

  InstanceRecord record;
  record.id = new_instance_id();
  auto port = allocate_loopback_port();
  if (!port) return fail(port.error());
  record.port = *port;
  record.token = new_instance_token();
  log_info("allocated instance " + record.id + " on 127.0.0.1:" + std::to_string(record.port));
  record.profile_id = options.profile;
  record.mode = options.mode;
  record.browser_binary = options.browser_binary;
  record.host = "127.0.0.1";
  record.status = InstanceStatus::Starting;
  record.created_at = utc_timestamp();

  // Recorded before the process exists: a crash between the two leaves a record that
  // `instance list` shows and a stale restart clears, never a browser nobody can stop.
  auto recorded = update_state(paths.state_path, [&](State& state) -> Result<bool> {
    state.instances.push_back(record);
    return true;
  });
  if (!recorded) return fail(recorded.error());

  log_info("starting VeskBrowser " + options.browser_binary + " with profile " + options.profile + " in " +
           mode_title(options.mode) + " mode; Chromium will connect to " + server->host + ":" +
           std::to_string(server->port));
  auto args = browser_arguments(server->host, server->port, record, browser_profile_dir(paths.data_dir, options.profile));
  auto pid = spawn_detached(options.browser_binary, args);
  if (!pid) {
    forget_instance(paths, record.id);
    return fail(pid.error().wrap("failed to start VeskBrowser: " + options.browser_binary));
  }
  log_info("VeskBrowser process started with pid " + std::to_string(*pid));
  record.pid = *pid;
  record.status = InstanceStatus::Running;

  bool still_recorded = false;
  auto marked = update_state(paths.state_path, [&](State& state) -> Result<bool> {
    auto found = std::ranges::find(state.instances, record.id, &InstanceRecord::id);
    if (found == state.instances.end()) return false;
    still_recorded = true;
    found->pid = record.pid;
    found->status = InstanceStatus::Running;
    return true;
  });
  if (!marked) return fail(marked.error());
  if (!still_recorded) {
    // Stopped or replaced by another command while it started: it must not run on unrecorded.
    (void)kill_process_tree(*pid);
    return fail("instance " + record.id + " was stopped by another vesk command while it started");
  }
  log_info("instance " + record.id + " marked running");
  return record;
}

}  // namespace vesk
