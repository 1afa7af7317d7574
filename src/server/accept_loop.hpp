#pragma once
// The accept loop: every accepted connection gets a detached thread of its own (a kept one
// when one is idle) running the broker, up to a cap on connections served at once. A failed accept is logged and
// skipped; a connection past the cap, or whose thread cannot be started, is closed with a
// log line, and the server keeps serving.

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/socket.hpp"
#include "server/broker.hpp"
#include "server/registry.hpp"
#include "server/reused_threads.hpp"

namespace vesk {

// Starts `work` on a detached thread of its own, or reports why it could not.
using ThreadStarter = std::function<Status(std::function<void()> work)>;

// Connections served at once, browsers included; past it new ones are closed unread.
inline constexpr std::size_t kMaxConnections = 512;

struct ConnectionContext {
  std::filesystem::path state_path;
  std::shared_ptr<Registry> registry;
  BrokerOptions options;
  ThreadStarter start_thread = run_on_reused_thread;
  std::size_t max_connections = kMaxConnections;
};

// The body of a connection's thread: refuses other users' connections before reading a
// byte, runs the broker, logs how it ended with an error,
// closes the socket.
void serve_connection(AcceptedConnection accepted, const ConnectionContext& context);

// Accepts until `stop` is set (and the listener is shut down to wake a blocked accept).
void accept_connections(const TcpListener& listener, const ConnectionContext& context,
                        const std::atomic<bool>& stop);

}  // namespace vesk
