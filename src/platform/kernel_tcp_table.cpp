#include "platform/kernel_tcp_table.hpp"

#include "platform/socket_native.hpp"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace vesk {

namespace {

// An address as the kernel's tables write it: each 32-bit word of the address as it lies
// in memory, printed as one hexadecimal number, then ":" and the port in hexadecimal.
std::string table_address(const TcpEndpoint& endpoint) {
  std::string text;
  const std::size_t length = endpoint.ipv6 ? 16 : 4;
  for (std::size_t i = 0; i + 4 <= length; i += 4) {
    std::uint32_t word = 0;
    std::memcpy(&word, endpoint.address.data() + i, 4);
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(word));
    text += hex;
  }
  char port_hex[16];
  std::snprintf(port_hex, sizeof port_hex, ":%04X", static_cast<unsigned>(endpoint.port));
  return text + port_hex;
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

}  // namespace

std::string_view kernel_tcp_table_path(const TcpEndpoint& endpoint) {
  return endpoint.ipv6 ? "/proc/net/tcp6" : "/proc/net/tcp";
}

// A socket that its process has closed (time-wait, orphaned) is listed with inode 0 and
// uid 0, so it tells nothing about who opened it.
std::optional<TcpSocketOwner> owner_in_kernel_table(std::string_view table, const TcpEndpoint& local,
                                                    const TcpEndpoint& remote) {
  const std::string pair = " " + table_address(local) + " " + table_address(remote) + " ";
  const auto at = table.find(pair);
  if (at == std::string_view::npos) return std::nullopt;
  const auto line_end = std::min(table.find('\n', at), table.size());
  const auto columns = columns_of(table.substr(at + pair.size(), line_end - at - pair.size()));
  if (columns.size() <= kInodeColumn) return std::nullopt;
  const auto uid = decimal(columns[kUidColumn]);
  const auto inode = decimal(columns[kInodeColumn]);
  if (!uid || !inode || *uid > UINT32_MAX) return std::nullopt;
  if (*inode == 0) return TcpSocketOwner{};
  return TcpSocketOwner{static_cast<std::uint32_t>(*uid)};
}

TcpEndpoint tcp_endpoint_of(const sockaddr_storage& address) {
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

}  // namespace vesk
