// Sockets on Windows: Winsock 2, WSAPoll, its own error codes.

#include <algorithm>
#include <cstdint>
#include <mutex>

#include "platform/socket_native.hpp"
#include "platform/windows_error.hpp"

namespace vesk {

void UniqueSocket::reset(SocketHandle handle) {
  if (valid()) ::closesocket(native(handle_));
  handle_ = handle;
}

void start_sockets() {
  // Once per process; never cleaned up, the process ends with the sockets it uses.
  static std::once_flag started;
  std::call_once(started, [] {
    WSADATA data{};
    ::WSAStartup(MAKEWORD(2, 2), &data);
  });
}

Error last_socket_error() { return windows_error(static_cast<unsigned long>(::WSAGetLastError())); }

Error resolver_error(int status) { return windows_error(static_cast<unsigned long>(status)); }

Result<UniqueSocket> open_tcp_socket(int family) {
  start_sockets();
  // Not inherited: a browser we start must not keep our connections open.
  const SOCKET socket = ::WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) return fail(last_socket_error());
  return UniqueSocket(handle_of(socket));
}

Status set_blocking(SocketHandle socket, bool blocking) {
  u_long non_blocking = blocking ? 0 : 1;
  if (::ioctlsocket(native(socket), FIONBIO, &non_blocking) != 0) return fail(last_socket_error());
  return {};
}

bool connect_in_progress() { return ::WSAGetLastError() == WSAEWOULDBLOCK; }

bool accept_should_retry() {
  const int error = ::WSAGetLastError();
  return error == WSAEINTR || error == WSAECONNRESET;
}

Status wait_for_connect(SocketHandle socket, std::chrono::milliseconds timeout) {
  WSAPOLLFD entry{native(socket), POLLOUT, 0};
  const int ready = ::WSAPoll(&entry, 1, static_cast<INT>(timeout.count()));
  if (ready < 0) return fail(last_socket_error());
  if (ready == 0) return fail(windows_error(WSAETIMEDOUT));
  int error = 0;
  int length = sizeof error;
  if (::getsockopt(native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
    return fail(last_socket_error());
  }
  if (error != 0) return fail(windows_error(static_cast<unsigned long>(error)));
  // A refused connect shows as an error event rather than writability on some systems.
  if ((entry.revents & (POLLERR | POLLHUP)) != 0) return fail(windows_error(WSAECONNREFUSED));
  return {};
}

Status wait_readable(SocketHandle socket, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return fail("timed out waiting for a message", ErrorKind::TimedOut);
    WSAPOLLFD entry{native(socket), POLLRDNORM, 0};
    const int ready = ::WSAPoll(&entry, 1, static_cast<INT>(std::min<std::int64_t>(left.count(), 60'000)));
    if (ready > 0) return {};
    if (ready < 0) return fail(last_socket_error());
  }
}

SocketHandle accept_native(SocketHandle listener, sockaddr* peer, NativeAddressLength* length) {
  const SOCKET socket = ::accept(native(listener), peer, length);
  if (socket == INVALID_SOCKET) return SocketHandle::invalid;
  ::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
  return handle_of(socket);
}

Status set_socket_timeouts(SocketHandle socket, std::chrono::milliseconds read, std::chrono::milliseconds write) {
  // Milliseconds as a DWORD; zero means no time-out, as on every system.
  const DWORD read_timeout = static_cast<DWORD>(read.count());
  const DWORD write_timeout = static_cast<DWORD>(write.count());
  if (::setsockopt(native(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&read_timeout),
                   sizeof read_timeout) != 0 ||
      ::setsockopt(native(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&write_timeout),
                   sizeof write_timeout) != 0) {
    return fail(last_socket_error().wrap("failed to set socket time-outs"));
  }
  return {};
}

Result<std::size_t> receive_some(SocketHandle socket, char* into, std::size_t capacity) {
  const int most = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
  const int got = ::recv(native(socket), into, most, 0);
  if (got >= 0) return static_cast<std::size_t>(got);
  return fail(last_socket_error());
}

Status write_all(SocketHandle socket, std::string_view bytes) {
  while (!bytes.empty()) {
    const int most = bytes.size() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(bytes.size());
    const int sent = ::send(native(socket), bytes.data(), most, 0);
    if (sent < 0) return fail(last_socket_error());
    if (sent == 0) return fail("failed to write whole buffer");
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return {};
}

void shutdown_socket(SocketHandle socket) { ::shutdown(native(socket), SD_BOTH); }

}  // namespace vesk
