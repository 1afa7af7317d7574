// Sockets on POSIX systems: descriptors, errno, poll.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/socket_native.hpp"

namespace vesk {

void UniqueSocket::reset(SocketHandle handle) {
  // close() is not retried on EINTR: on Linux the descriptor is gone either way.
  if (valid()) ::close(native(handle_));
  handle_ = handle;
}

void start_sockets() {}

Error last_socket_error() { return system_error(errno); }

Error resolver_error(int status) {
  return status == EAI_SYSTEM ? system_error(errno) : Error(::gai_strerror(status));
}

Result<UniqueSocket> open_tcp_socket(int family) {
  const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail(last_socket_error());
  return UniqueSocket(handle_of(fd));
}

Status set_blocking(SocketHandle socket, bool blocking) {
  const int flags = ::fcntl(native(socket), F_GETFL);
  if (flags < 0) return fail(last_socket_error());
  const int wanted = blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK;
  if (::fcntl(native(socket), F_SETFL, wanted) != 0) return fail(last_socket_error());
  return {};
}

bool connect_in_progress() { return errno == EINPROGRESS || errno == EINTR; }

bool accept_should_retry() { return errno == EINTR || errno == ECONNABORTED; }

Status wait_for_connect(SocketHandle socket, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return fail(system_error(ETIMEDOUT));
    pollfd entry{native(socket), POLLOUT, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return fail(last_socket_error());
    }
    if (ready == 0) return fail(system_error(ETIMEDOUT));
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(native(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0) return fail(last_socket_error());
    if (error != 0) return fail(system_error(error));
    return {};
  }
}

Status wait_readable(SocketHandle socket, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return fail("timed out waiting for a message", ErrorKind::TimedOut);
    pollfd entry{native(socket), POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 60'000)));
    if (ready > 0) return {};
    if (ready < 0 && errno != EINTR) return fail(last_socket_error());
  }
}

SocketHandle accept_native(SocketHandle listener, sockaddr* peer, NativeAddressLength* length) {
  const int fd = ::accept4(native(listener), peer, length, SOCK_CLOEXEC);
  return fd < 0 ? SocketHandle::invalid : handle_of(fd);
}

Status set_socket_timeouts(SocketHandle socket, std::chrono::milliseconds read, std::chrono::milliseconds write) {
  const auto to_timeval = [](std::chrono::milliseconds duration) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(duration.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>((duration.count() % 1000) * 1000);
    return value;
  };
  // A zero duration means no time-out, as for the socket options themselves.
  const timeval read_timeout = to_timeval(read);
  const timeval write_timeout = to_timeval(write);
  if (::setsockopt(native(socket), SOL_SOCKET, SO_RCVTIMEO, &read_timeout, sizeof read_timeout) != 0 ||
      ::setsockopt(native(socket), SOL_SOCKET, SO_SNDTIMEO, &write_timeout, sizeof write_timeout) != 0) {
    return fail(last_socket_error().wrap("failed to set socket time-outs"));
  }
  return {};
}

Result<std::size_t> receive_some(SocketHandle socket, char* into, std::size_t capacity) {
  for (;;) {
    const ssize_t got = ::recv(native(socket), into, capacity, 0);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return fail(last_socket_error());
  }
}

Status write_all(SocketHandle socket, std::string_view bytes) {
  while (!bytes.empty()) {
    // MSG_NOSIGNAL: a peer that has gone away is an error value, not a SIGPIPE.
    const ssize_t sent = ::send(native(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return fail(last_socket_error());
    }
    if (sent == 0) return fail("failed to write whole buffer");
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return {};
}

void shutdown_socket(SocketHandle socket) { ::shutdown(native(socket), SHUT_RDWR); }

}  // namespace vesk
