#pragma once
// TCP sockets on loopback: owned descriptors, numeric addresses, listen/accept, connect
// with a time-out, and read/write time-outs. POSIX now; a Windows twin goes beside it.

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"

namespace vesk {

// An owned file descriptor, closed on destruction. Move-only.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] bool valid() const { return fd_ >= 0; }
  int release();
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
  // "127.0.0.1:80" or "[::1]:80".
  [[nodiscard]] std::string text() const;
};

// A numeric endpoint: "1.2.3.4:80" or "[::1]:80". Host names are refused.
Result<SocketAddress> parse_socket_address(std::string_view endpoint);
// "host:port" with names resolved; every address the name has, in resolver order.
// Fails with "could not resolve to any addresses" when there is none.
Result<std::vector<SocketAddress>> resolve_socket_addresses(std::string_view host_port);

// One connect attempt that gives up after `timeout`.
Result<UniqueFd> connect_tcp(const SocketAddress& address, std::chrono::milliseconds timeout);
// Read and write time-outs on a connected socket (SO_RCVTIMEO / SO_SNDTIMEO).
Status set_socket_timeouts(int fd, std::chrono::milliseconds read, std::chrono::milliseconds write);

struct AcceptedConnection {
  UniqueFd fd;
  std::string peer;  // "address:port", "[v6]:port", or "unknown"
};

class TcpListener {
 public:
  // Binds and listens on "host:port" (names resolved, addresses tried in turn).
  // Errors read "failed to bind {host:port}" with the system error as cause.
  static Result<TcpListener> bind(std::string_view host_port);
  Result<std::uint16_t> local_port() const;
  Result<AcceptedConnection> accept() const;
  [[nodiscard]] int fd() const { return fd_.get(); }

 private:
  explicit TcpListener(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;
};

// Writes all bytes, repeating on EINTR and short writes. A send that accepts nothing
// fails with "failed to write whole buffer".
Status write_all(int fd, std::string_view bytes);

}  // namespace vesk
