// The peer's user on Linux: the peer's socket is the one whose local end is our peer
// address and whose remote end is our local address, and the kernel tells its owner's uid.
// It is asked first through the socket-diagnostics netlink interface, which looks that one
// socket up; /proc/net/tcp and /proc/net/tcp6, which list every TCP socket of the network
// namespace and cost a walk of the whole connection table per read, are the fallback.

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/file_descriptor.hpp"
#include "platform/files.hpp"
#include "platform/kernel_tcp_table.hpp"
#include "platform/peer_user.hpp"
#include "platform/socket_native.hpp"

namespace vesk {

namespace {

// One TCP end as the diagnostics interface names it: address words as they lie in memory,
// port in network order.
struct DiagEnd {
  std::uint8_t family = AF_INET;
  std::uint32_t words[4] = {};
  std::uint16_t port = 0;
};

DiagEnd diag_end(const TcpEndpoint& endpoint) {
  DiagEnd end;
  end.family = endpoint.ipv6 ? AF_INET6 : AF_INET;
  std::memcpy(end.words, endpoint.address.data(), endpoint.ipv6 ? 16 : 4);
  end.port = htons(endpoint.port);
  return end;
}

// The owner of the socket with ends `local` and `remote`, looked up by the kernel; nullopt
// when the interface cannot answer (not found included: the tables then decide).
std::optional<TcpSocketOwner> owner_by_diag(const TcpEndpoint& local_end, const TcpEndpoint& remote_end) {
  if (local_end.ipv6 != remote_end.ipv6) return std::nullopt;
  const DiagEnd local = diag_end(local_end);
  const DiagEnd remote = diag_end(remote_end);
  // This thread's socket, kept: the server keeps its connection threads for the next
  // connection, and opening and closing one for each lookup was half the lookup's cost.
  // Closed after anything unexpected, so that no late answer is read for a later question.
  thread_local UniqueFd fd;
  thread_local std::uint32_t sequence = 0;
  if (!fd.valid()) fd.reset(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (!fd.valid()) return std::nullopt;
  const auto give_up = [&] {
    fd.reset();
    return std::nullopt;
  };
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;
  message.header.nlmsg_seq = ++sequence;
  message.request.sdiag_family = local.family;
  message.request.sdiag_protocol = IPPROTO_TCP;
  message.request.idiag_states = ~0U;
  message.request.id.idiag_sport = local.port;
  message.request.id.idiag_dport = remote.port;
  std::memcpy(message.request.id.idiag_src, local.words, sizeof local.words);
  std::memcpy(message.request.id.idiag_dst, remote.words, sizeof remote.words);
  message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(fd.get(), &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) !=
      static_cast<ssize_t>(sizeof message)) {
    return give_up();
  }
  alignas(nlmsghdr) char reply[8192];
  ssize_t got;
  do {
    got = ::recv(fd.get(), reply, sizeof reply, 0);
  } while (got < 0 && errno == EINTR);
  if (got < static_cast<ssize_t>(sizeof(nlmsghdr))) return give_up();
  const auto* header = reinterpret_cast<const nlmsghdr*>(reply);
  if (!NLMSG_OK(header, static_cast<unsigned>(got)) || header->nlmsg_seq != sequence) return give_up();
  if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
      header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
    return std::nullopt;  // an error answer (no such socket) or something unexpected
  }
  const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
  // The lookup falls back to a listening socket on the port: only the connection counts.
  if (found->id.idiag_sport != local.port || found->id.idiag_dport != remote.port ||
      std::memcmp(found->id.idiag_src, local.words, sizeof local.words) != 0 ||
      std::memcmp(found->id.idiag_dst, remote.words, sizeof remote.words) != 0) {
    return std::nullopt;
  }
  if (found->idiag_inode == 0) return TcpSocketOwner{};
  return TcpSocketOwner{found->idiag_uid};
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
  const TcpEndpoint peer_end = tcp_endpoint_of(peer);
  const TcpEndpoint our_end = tcp_endpoint_of(local);
  if (const auto owner = owner_by_diag(peer_end, our_end)) {
    if (!owner->uid) return fail("the peer has closed its socket already");
    return PeerUser{*owner->uid == ::geteuid(), "uid " + std::to_string(*owner->uid)};
  }
  const std::string table_path(kernel_tcp_table_path(peer_end));
  auto table = read_whole_file(table_path);
  if (!table) return fail(std::move(table.error()).wrap("failed to read " + table_path));
  const auto owner = owner_in_kernel_table(*table, peer_end, our_end);
  if (!owner) return fail("the peer's socket is not listed in " + table_path);
  if (!owner->uid) return fail("the peer has closed its socket already");
  return PeerUser{*owner->uid == ::geteuid(), "uid " + std::to_string(*owner->uid)};
}

}  // namespace vesk
