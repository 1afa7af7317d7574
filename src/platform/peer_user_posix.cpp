// The peer's user on Linux: the kernel's TCP tables list every socket with its owner's
// uid. The peer's socket is the one whose local end is our peer address and whose remote
// end is our local address.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/files.hpp"
#include "platform/kernel_tcp_table.hpp"
#include "platform/peer_user.hpp"

namespace vesk {

namespace {

// An IPv4 peer of a dual-stack IPv6 socket appears to us as ::ffff:a.b.c.d, but its own
// socket is an IPv4 one, listed in /proc/net/tcp.
TcpEndpoint endpoint_of(const sockaddr_storage& address) {
  TcpEndpoint endpoint;
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    std::memcpy(endpoint.address.data(), &v4.sin_addr, 4);
    endpoint.port = ntohs(v4.sin_port);
    return endpoint;
  }
  const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
  endpoint.port = ntohs(v6.sin6_port);
  if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
    std::memcpy(endpoint.address.data(), reinterpret_cast<const unsigned char*>(&v6.sin6_addr) + 12, 4);
    return endpoint;
  }
  endpoint.ipv6 = true;
  std::memcpy(endpoint.address.data(), &v6.sin6_addr, 16);
  return endpoint;
}

}  // namespace

Result<PeerUser> connection_peer_user(SocketHandle connection) {
  sockaddr_storage local{};
  sockaddr_storage peer{};
  socklen_t local_length = sizeof local;
  socklen_t peer_length = sizeof peer;
  if (::getsockname(static_cast<int>(connection), reinterpret_cast<sockaddr*>(&local), &local_length) != 0 ||
      ::getpeername(static_cast<int>(connection), reinterpret_cast<sockaddr*>(&peer), &peer_length) != 0) {
    return fail(system_error(errno, "failed to read the connection's addresses"));
  }
  if ((peer.ss_family != AF_INET && peer.ss_family != AF_INET6) || local.ss_family != peer.ss_family) {
    return fail("the connection is not a TCP connection");
  }
  // The peer's socket: its local end is our peer address, its remote end our address.
  const TcpEndpoint peer_end = endpoint_of(peer);
  const TcpEndpoint our_end = endpoint_of(local);
  const std::string table_path(kernel_tcp_table_path(peer_end));
  auto table = read_whole_file(table_path);
  if (!table) return fail(std::move(table.error()).wrap("failed to read " + table_path));
  const auto owner = owner_in_kernel_table(*table, peer_end, our_end);
  if (!owner) return fail("the peer's socket is not listed in " + table_path);
  if (!owner->uid) return fail("the peer has closed its socket already");
  return PeerUser{*owner->uid == ::geteuid(), "uid " + std::to_string(*owner->uid)};
}

}  // namespace vesk
