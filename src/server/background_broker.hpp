#pragma once
// A broker serving on its own thread inside the calling process, on a loopback port
// chosen by the system. Tests and benchmarks use it to run the broker with short answer
// waits or a failing thread starter; the executable uses run_server instead.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <thread>

#include "base/error.hpp"
#include "platform/socket.hpp"
#include "server/accept_loop.hpp"

namespace vesk {

class BackgroundBroker {
 public:
  // Binds 127.0.0.1:0 and starts accepting. The state file need not exist.
  static Result<std::unique_ptr<BackgroundBroker>> start(ConnectionContext context);
  ~BackgroundBroker();  // stop()
  BackgroundBroker(const BackgroundBroker&) = delete;
  BackgroundBroker& operator=(const BackgroundBroker&) = delete;

  [[nodiscard]] std::uint16_t port() const { return port_; }
  [[nodiscard]] Registry& registry() { return *context_.registry; }

  // Stops accepting and retires every registered browser connection.
  void stop();

 private:
  BackgroundBroker(TcpListener listener, std::uint16_t port, ConnectionContext context);
  TcpListener listener_;
  std::uint16_t port_;
  ConnectionContext context_;
  std::atomic<bool> stop_{false};
  std::thread accept_thread_;
};

}  // namespace vesk
