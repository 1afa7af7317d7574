#pragma once
// The system's socket API for the platform layer's own sources; never included above it.
// Names that differ between the systems get one spelling here.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "base/error.hpp"
#include "platform/kernel_tcp_table.hpp"
#include "platform/socket.hpp"

namespace vesk {

#ifdef _WIN32
using NativeSocket = SOCKET;
using NativeAddressLength = int;
#else
using NativeSocket = int;
using NativeAddressLength = socklen_t;
#endif

inline NativeSocket native(SocketHandle handle) { return static_cast<NativeSocket>(handle); }
inline SocketHandle handle_of(NativeSocket socket) { return static_cast<SocketHandle>(socket); }

// The system's error for the last failed socket call, as an Error (time-outs as TimedOut).
Error last_socket_error();
// The resolver's error for a getaddrinfo status other than "no such name".
Error resolver_error(int status);
// A new TCP socket for `family`, not inherited by child processes.
Result<UniqueSocket> open_tcp_socket(int family);
// Switches between blocking and non-blocking mode.
Status set_blocking(SocketHandle socket, bool blocking);
// Waits until a non-blocking connect finishes or `timeout` passes.
Status wait_for_connect(SocketHandle socket, std::chrono::milliseconds timeout);
// True when the last failed connect is still in progress (non-blocking).
bool connect_in_progress();
// True when the last failed accept is worth retrying: a signal, or a peer that gave up.
bool accept_should_retry();
// accept() on `listener`, the new socket not inherited by child processes; invalid on failure.
SocketHandle accept_native(SocketHandle listener, sockaddr* peer, NativeAddressLength* length);
// Makes the socket API usable (Windows needs it started once per process).
void start_sockets();
// A TCP end as the kernel's tables name it. An IPv4 peer of a dual-stack IPv6 socket
// appears as ::ffff:a.b.c.d, but its own socket is an IPv4 one: it is named as IPv4.
TcpEndpoint tcp_endpoint_of(const sockaddr_storage& address);

}  // namespace vesk
