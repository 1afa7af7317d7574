#include "server/accept_loop.hpp"

#include <chrono>
#include <string>
#include <system_error>
#include <thread>

#include "base/log.hpp"

namespace vesk {

namespace {
constexpr std::chrono::milliseconds kAcceptRetryPause{20};
}  // namespace

Status start_detached_thread(std::function<void()> work) {
  try {
    std::thread(std::move(work)).detach();
    return {};
  } catch (const std::system_error& e) {
    return fail(Error(e.what()).wrap("failed to spawn thread"));
  }
}

void serve_connection(AcceptedConnection accepted, const ConnectionContext& context) {
  Connection connection(std::move(accepted.socket));
  Status handled = handle_connection(connection, context.state_path, *context.registry, context.options);
  if (!handled) log_info("socket connection " + accepted.peer + " closed: " + handled.error().text());
  connection.close();
}

void accept_connections(const TcpListener& listener, const ConnectionContext& context,
                        const std::atomic<bool>& stop) {
  // One copy shared by every connection thread, which may outlive this loop.
  auto shared_context = std::make_shared<const ConnectionContext>(context);
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
    // The connection is handed to the thread's work; if no thread starts, it is closed here
    // and the loop goes on with the next one.
    auto shared_connection = std::make_shared<AcceptedConnection>(std::move(*accepted));
    Status started = context.start_thread([shared_connection, shared_context] {
      serve_connection(std::move(*shared_connection), *shared_context);
    });
    if (!started) {
      shared_connection->socket.reset();
      log_info("socket connection " + peer + " closed: " + started.error().text());
    }
  }
}

}  // namespace vesk
