#pragma once
// TCP sockets on loopback: owned sockets, numeric addresses, listen/accept, connect with a
// time-out, reads and writes with time-outs. The system's socket type stays inside the
// platform layer: callers hold a SocketHandle, an opaque number.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"

namespace vesk {

// A socket as the system names it (a descriptor, or a Windows SOCKET), not owned.
enum class SocketHandle : std::uintptr_t { invalid = ~std::uintptr_t{0} };

// An owned socket, closed on destruction. Move-only.
class UniqueSocket {
 public:
  UniqueSocket() = default;
  explicit UniqueSocket(SocketHandle handle) : handle_(handle) {}
  UniqueSocket(UniqueSocket&& other) noexcept : handle_(other.release()) {}
  UniqueSocket& operator=(UniqueSocket&& other) noexcept;
  UniqueSocket(const UniqueSocket&) = delete;
  UniqueSocket& operator=(const UniqueSocket&) = delete;
  ~UniqueSocket();

  [[nodiscard]] SocketHandle get() const { return handle_; }
  [[nodiscard]] bool valid() const { return handle_ != SocketHandle::invalid; }
  SocketHandle release();
  void reset(SocketHandle handle = SocketHandle::invalid);

 private:
  SocketHandle handle_ = SocketHandle::invalid;
};

// An IPv4 or IPv6 address with its port, in the system's own layout.
struct SocketAddress {
  alignas(8) unsigned char storage[128]{};
  std::uint32_t length = 0;
  // "127.0.0.1:80" or "[::1]:80".
  [[nodiscard]] std::string text() const;
};

// A numeric endpoint: "1.2.3.4:80" or "[::1]:80". Host names are refused.
Result<SocketAddress> parse_socket_address(std::string_view endpoint);
// "host:port" with names resolved; every address the name has, in resolver order.
// Fails with "could not resolve to any addresses" when there is none.
Result<std::vector<SocketAddress>> resolve_socket_addresses(std::string_view host_port);

// One connect attempt that gives up after `timeout`.
Result<UniqueSocket> connect_tcp(const SocketAddress& address, std::chrono::milliseconds timeout);
// Read and write time-outs on a connected socket; zero means none.
Status set_socket_timeouts(SocketHandle socket, std::chrono::milliseconds read, std::chrono::milliseconds write);

struct AcceptedConnection {
  UniqueSocket socket;
  std::string peer;  // "address:port", "[v6]:port", or "unknown"
};

class TcpListener {
 public:
  // Binds and listens on "host:port" (names resolved, addresses tried in turn).
  // Errors read "failed to bind {host:port}" with the system error as cause.
  static Result<TcpListener> bind(std::string_view host_port);
  Result<std::uint16_t> local_port() const;
  Result<AcceptedConnection> accept() const;
  [[nodiscard]] SocketHandle socket() const { return socket_.get(); }

 private:
  explicit TcpListener(UniqueSocket socket) : socket_(std::move(socket)) {}
  UniqueSocket socket_;
};

// Receives what is there, up to `capacity` bytes, waiting for at least one; 0 at the end
// of the stream. A read time-out fails with kind TimedOut.
Result<std::size_t> receive_some(SocketHandle socket, char* into, std::size_t capacity);
// Waits until the socket has bytes (or its end) to read; fails with "timed out waiting for
// a message" (kind TimedOut) once `deadline` has passed.
Status wait_readable(SocketHandle socket, std::chrono::steady_clock::time_point deadline);
// Sends all bytes, repeating on interruptions and short writes. A peer that has gone away
// is an error value (never a signal); a send that accepts nothing fails with "failed to
// write whole buffer".
Status write_all(SocketHandle socket, std::string_view bytes);
// Ends both directions, so that a thread blocked reading or accepting on it wakes up.
void shutdown_socket(SocketHandle socket);

// Two connected sockets over loopback: `first` accepted, `second` connected.
struct SocketPair {
  UniqueSocket first;
  UniqueSocket second;
};
Result<SocketPair> connected_socket_pair();

}  // namespace vesk
