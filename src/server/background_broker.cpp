#include "server/background_broker.hpp"

namespace vesk {

Result<std::unique_ptr<BackgroundBroker>> BackgroundBroker::start(ConnectionContext context) {
  if (!context.registry) context.registry = std::make_shared<Registry>();
  auto listener = TcpListener::bind("127.0.0.1:0");
  if (!listener) return fail(std::move(listener).error());
  auto port = listener->local_port();
  if (!port) return fail(std::move(port).error());
  return std::unique_ptr<BackgroundBroker>(
      new BackgroundBroker(std::move(*listener), *port, std::move(context)));
}

BackgroundBroker::BackgroundBroker(TcpListener listener, std::uint16_t port, ConnectionContext context)
    : listener_(std::move(listener)), port_(port), context_(std::move(context)) {
  accept_thread_ = std::thread([this] { accept_connections(listener_, context_, stop_); });
}

BackgroundBroker::~BackgroundBroker() { stop(); }

void BackgroundBroker::stop() {
  if (stop_.exchange(true)) return;
  // Wakes the blocked accept with a connection of our own (a shut-down listening socket
  // wakes it too, but not on every system); the listener is closed with the object.
  shutdown_socket(listener_.socket());
  if (auto address = parse_socket_address("127.0.0.1:" + std::to_string(port_))) {
    (void)connect_tcp(*address, std::chrono::seconds(1));
  }
  if (accept_thread_.joinable()) accept_thread_.join();
  context_.registry->retire_all();
}

}  // namespace vesk
