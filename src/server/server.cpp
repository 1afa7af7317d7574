#include "server/server.hpp"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/log.hpp"
#include "platform/process.hpp"
#include "platform/socket.hpp"
#include "server/accept_loop.hpp"
#include "store/state.hpp"

namespace vesk {

namespace {

Status ensure_data_dir(const std::filesystem::path& data_dir) {
  std::error_code ec;
  std::filesystem::create_directories(data_dir, ec);
  if (ec) return fail(system_error(ec.value(), "failed to create data dir " + data_dir.string()));
  log_info("ensured data dir " + data_dir.string());
  return {};
}

// Loads and saves at once so the file exists in its current form.
Status prepare_state(const std::filesystem::path& state_path) {
  std::size_t profiles = 0;
  std::size_t instances = 0;
  auto prepared = update_state(state_path, [&](State& state) -> Result<bool> {
    profiles = state.profiles.size();
    instances = state.instances.size();
    return true;
  });
  if (!prepared) return prepared;
  log_info("server state ready with " + std::to_string(profiles) + " profiles and " + std::to_string(instances) +
           " instances");
  return {};
}

// Clients find the server through this record; any earlier one is overwritten.
Status record_endpoint(const std::filesystem::path& state_path, const std::string& host,
                       std::uint16_t port) {
  return update_state(state_path, [&](State& state) -> Result<bool> {
    state.server = ServerRecord{host, port, current_pid(), utc_timestamp()};
    return true;
  });
}

// Whoever started the server reads this through a pipe: it must not sit in a buffer.
void announce_ready(const std::string& host, std::uint16_t port) {
  std::string line = "vesk server ready on " + host + ":" + std::to_string(port) + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

Status run_server(const AppPaths& paths, const std::string& host, std::uint16_t port) {
  if (auto ok = ensure_data_dir(paths.data_dir); !ok) return ok;
  if (auto ok = prepare_state(paths.state_path); !ok) return ok;

  auto listener = TcpListener::bind(host + ":" + std::to_string(port));
  if (!listener) return fail(std::move(listener).error());
  auto actual_port = listener->local_port();
  if (!actual_port) return fail(std::move(actual_port).error());
  if (auto ok = record_endpoint(paths.state_path, host, *actual_port); !ok) return ok;

  log_info("TCP socket server listening on " + host + ":" + std::to_string(*actual_port));
  announce_ready(host, *actual_port);

  ConnectionContext context{paths.state_path, std::make_shared<Registry>(), BrokerOptions{}};
  std::atomic<bool> never_stop{false};
  accept_connections(*listener, context, never_stop);
  return {};
}

}  // namespace vesk
