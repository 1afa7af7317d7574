#include "server/accept_loop.hpp"

#include <string>
#include <system_error>
#include <thread>

#include "base/log.hpp"

namespace vesk {

Status start_detached_thread(std::function<void()> work) {
  try {
    std::thread(std::move(work)).detach();
    return {};
  } catch (const std::system_error& e) {
    return fail(Error(e.what()).wrap("failed to spawn thread"));
  }
}

void serve_connection(AcceptedConnection accepted, const ConnectionContext& context) {
  Connection connection(std::move(accepted.fd));
  Status handled = handle_connection(connection, context.state_path, *context.registry, context.options);
  if (!handled) log_info("socket connection " + accepted.peer + " closed: " + handled.error().text());
  connection.close();
}

void accept_connections(const TcpListener& listener, const ConnectionContext& context,
                        const std::atomic<bool>& stop) {
  while (!stop.load()) {
    auto accepted = listener.accept();
    if (stop.load()) return;
    if (!accepted) {
      log_info("failed to accept socket connection: " + accepted.error().text());
      continue;
    }
    log_info("accepted socket connection from " + accepted->peer);
    std::string peer = accepted->peer;
    // The connection moves into the thread's work; if no thread starts, the work (and the
    // socket with it) is destroyed here, which closes the connection.
    auto shared_connection = std::make_shared<AcceptedConnection>(std::move(*accepted));
    Status started = context.start_thread([shared_connection, context]() mutable {
      serve_connection(std::move(*shared_connection), context);
    });
    if (!started) {
      shared_connection->fd.reset();
      log_info("socket connection " + peer + " closed: " + started.error().text());
    }
  }
}

}  // namespace vesk
