// The peer's user on Linux: the kernel lists every TCP socket of the network namespace in
// /proc/net/tcp and /proc/net/tcp6 with its owner's uid. The peer's socket is the one whose
// local end is our peer address and whose remote end is our local address.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>
#include <algorithm>
#include <climits>

#include "platform/file_descriptor.hpp"
#include "platform/peer_user.hpp"

namespace vesk {

namespace {

// An address as the kernel's tables write it: each 32-bit word of the address as it lies
// in memory, printed as one hexadecimal number, then ":" and the port in hexadecimal.
std::string table_address(const unsigned char* bytes, std::size_t length, std::uint16_t port) {
  std::string text;
  for (std::size_t i = 0; i + 4 <= length; i += 4) {
    std::uint32_t word = 0;
    std::memcpy(&word, bytes + i, 4);
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", word);
    text += hex;
  }
  char port_hex[16];
  std::snprintf(port_hex, sizeof port_hex, ":%04X", port);
  return text + port_hex;
}

struct TableEndpoint {
  const char* table;  // "/proc/net/tcp" or "/proc/net/tcp6"
  std::string text;
};

// An IPv4 peer of a dual-stack IPv6 socket appears to us as ::ffff:a.b.c.d, but its own
// socket is an IPv4 one, listed in /proc/net/tcp.
TableEndpoint table_endpoint(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    return {"/proc/net/tcp", table_address(reinterpret_cast<const unsigned char*>(&v4.sin_addr), 4, ntohs(v4.sin_port))};
  }
  const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&v6.sin6_addr);
  if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
    return {"/proc/net/tcp", table_address(bytes + 12, 4, ntohs(v6.sin6_port))};
  }
  return {"/proc/net/tcp6", table_address(bytes, 16, ntohs(v6.sin6_port))};
}

Result<std::string> read_table(const char* path) {
  UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return fail(system_error(errno, std::string("failed to open ") + path));
  std::string text;
  char block[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), block, sizeof block);
    if (got < 0) {
      if (errno == EINTR) continue;
      return fail(system_error(errno, std::string("failed to read ") + path));
    }
    if (got == 0) return text;
    text.append(block, static_cast<std::size_t>(got));
  }
}

// The columns after the two addresses: st, tx:rx, tr:when, retrnsmt, uid, timeout, inode.
constexpr std::size_t kUidColumn = 4;
constexpr std::size_t kInodeColumn = 6;

std::vector<std::string_view> columns_of(std::string_view line) {
  std::vector<std::string_view> columns;
  while (true) {
    const auto start = line.find_first_not_of(' ');
    if (start == std::string_view::npos) return columns;
    line.remove_prefix(start);
    const auto end = std::min(line.find(' '), line.size());
    columns.push_back(line.substr(0, end));
    line.remove_prefix(end);
  }
}

std::optional<std::uint64_t> decimal(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

struct TableOwner {
  std::optional<std::uint32_t> uid;  // nullopt: the socket is listed but no process holds it
};

// The owner of the socket listed with `local` then `remote` as its two addresses. A socket
// that its process has closed (time-wait, orphaned) is listed with inode 0 and uid 0, so
// it tells nothing about who opened it.
std::optional<TableOwner> owner_in_table(std::string_view table, const std::string& local,
                                         const std::string& remote) {
  const std::string pair = " " + local + " " + remote + " ";
  const auto at = table.find(pair);
  if (at == std::string_view::npos) return std::nullopt;
  const auto line_end = std::min(table.find('\n', at), table.size());
  const auto columns = columns_of(table.substr(at + pair.size(), line_end - at - pair.size()));
  if (columns.size() <= kInodeColumn) return std::nullopt;
  const auto uid = decimal(columns[kUidColumn]);
  const auto inode = decimal(columns[kInodeColumn]);
  if (!uid || !inode || *uid > UINT32_MAX) return std::nullopt;
  if (*inode == 0) return TableOwner{};
  return TableOwner{static_cast<std::uint32_t>(*uid)};
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
  const TableEndpoint peer_end = table_endpoint(peer);
  const TableEndpoint our_end = table_endpoint(local);
  auto table = read_table(peer_end.table);
  if (!table) return fail(table.error());
  const auto owner = owner_in_table(*table, peer_end.text, our_end.text);
  if (!owner) return fail(std::string("the peer's socket is not listed in ") + peer_end.table);
  if (!owner->uid) return fail("the peer has closed its socket already");
  return PeerUser{*owner->uid == ::geteuid(), "uid " + std::to_string(*owner->uid)};
}

}  // namespace vesk
