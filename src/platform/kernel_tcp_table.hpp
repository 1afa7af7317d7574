#pragma once
// The Linux kernel's TCP tables (/proc/net/tcp and /proc/net/tcp6) list every TCP socket
// of the network namespace with the uid of its owner. Linux reads them to learn which
// user runs a loopback peer. The Windows build reads them too when it runs under Wine on
// Linux: Wine's own TCP table lists connections without their owning process.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vesk {

// One end of a TCP connection. An IPv4 address (ipv6 false) fills the first 4 bytes.
struct TcpEndpoint {
  bool ipv6 = false;
  std::array<unsigned char, 16> address{};  // as it lies on the wire
  std::uint16_t port = 0;                    // host order
};

// "/proc/net/tcp" for an IPv4 endpoint, "/proc/net/tcp6" for an IPv6 one.
std::string_view kernel_tcp_table_path(const TcpEndpoint& endpoint);

struct TcpSocketOwner {
  std::optional<std::uint32_t> uid;  // nullopt: the socket is listed but no process holds it
};

// The owner of the socket listed with `local` then `remote` as its two ends, in the text
// of the table; nullopt when no such socket is listed.
std::optional<TcpSocketOwner> owner_in_kernel_table(std::string_view table, const TcpEndpoint& local,
                                                    const TcpEndpoint& remote);

}  // namespace vesk
