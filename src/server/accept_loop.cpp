#include "server/accept_loop.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "base/log.hpp"
#include "platform/peer_user.hpp"

namespace vesk {

namespace {
constexpr std::chrono::milliseconds kAcceptRetryPause{20};

// Why a connection must not be served (its peer runs as another user, or its user cannot
// be told), or nullopt when it may be.
std::optional<std::string> refusal_of(const AcceptedConnection& accepted) {
  auto peer = connection_peer_user(accepted.socket.get());
  if (!peer) return "cannot tell which user runs it: " + peer.error().text();
  if (!peer->same_as_ours) return "it runs as another user (" + peer->name + ")";
  return std::nullopt;
}

}  // namespace

void serve_connection(AcceptedConnection accepted, const ConnectionContext& context) {
  // Loopback is open to every user of the machine: nobody else may drive our browsers.
  if (auto refusal = refusal_of(accepted)) {
    log_info("refused socket connection from " + accepted.peer + ": " + *refusal);
    return;
  }
  Connection connection(std::move(accepted.socket));
  Status handled = handle_connection(connection, context.state_path, *context.registry, context.options);
  if (!handled) log_info("socket connection " + accepted.peer + " closed: " + handled.error().text());
  connection.close();
}

void accept_connections(const TcpListener& listener, const ConnectionContext& context,
                        const std::atomic<bool>& stop) {
  // One copy shared by every connection thread, which may outlive this loop.
  auto shared_context = std::make_shared<const ConnectionContext>(context);
  // Connections being served; shared with the threads, which may outlive this loop.
  auto serving = std::make_shared<std::atomic<std::size_t>>(0);
  while (!stop.load()) {
    auto accepted = listener.accept();
    if (stop.load()) return;
    if (!accepted) {
      log_info("failed to accept socket connection: " + accepted.error().text());
      // Out of descriptors or memory, accept fails again at once: pause instead of
      // spinning on a full core and flooding the log.
      std::this_thread::sleep_for(kAcceptRetryPause);
      continue;
    }
    log_info("accepted socket connection from " + accepted->peer);
    std::string peer = accepted->peer;
    if (serving->load() >= context.max_connections) {
      log_info("refused socket connection from " + peer + ": already serving " +
               std::to_string(context.max_connections) + " connections");
      continue;  // closed as it goes out of scope
    }
    ++*serving;
    // The connection is handed to the thread's work; if no thread starts, it is closed here
    // and the loop goes on with the next one.
    auto shared_connection = std::make_shared<AcceptedConnection>(std::move(*accepted));
    Status started = context.start_thread([shared_connection, shared_context, serving] {
      serve_connection(std::move(*shared_connection), *shared_context);
      --*serving;
    });
    if (!started) {
      --*serving;
      shared_connection->socket.reset();
      log_info("socket connection " + peer + " closed: " + started.error().text());
    }
  }
}

}  // namespace vesk
