#include "platform/kernel_tcp_table.hpp"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TcpEndpoint loopback_v4(std::uint16_t port) { return {false, {127, 0, 0, 1}, port}; }

TcpEndpoint loopback_v6(std::uint16_t port) {
  TcpEndpoint endpoint{true, {}, port};
  endpoint.address[15] = 1;
  return endpoint;
}

// Rows as the kernel writes them: a connection 127.0.0.1:40000 -> :5000 held by uid 1000,
// its server end held by uid 0 (root), and a closed one (inode 0) from :40001.
constexpr std::string_view kTable =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
    "   0: 0100007F:9C40 0100007F:1388 01 00000000:00000000 00:00000000 00000000  1000        0 51234 1 0\n"
    "   1: 0100007F:1388 0100007F:9C40 01 00000000:00000000 00:00000000 00000000     0        0 51235 1 0\n"
    "   2: 0100007F:9C41 0100007F:1388 06 00000000:00000000 03:00000F2E 00000000     0        0 0 3 0\n";

constexpr std::string_view kTable6 =
    "  sl  local_address                         remote_address                        st tx_queue rx_queue tr "
    "tm->when retrnsmt   uid  timeout inode\n"
    "   0: 00000000000000000000000001000000:9C40 00000000000000000000000001000000:1388 01 00000000:00000000 "
    "00:00000000 00000000  1001        0 61234 1 0\n";

TEST(KernelTcpTable, FindsTheOwnerOfTheSocketWithTheseTwoEnds) {
  struct Case {
    std::string_view table;
    TcpEndpoint local, remote;
    std::optional<std::optional<std::uint32_t>> owner;  // outer nullopt: not listed
  };
  const Case cases[] = {
      {kTable, loopback_v4(40000), loopback_v4(5000), std::optional<std::uint32_t>(1000)},
      {kTable, loopback_v4(5000), loopback_v4(40000), std::optional<std::uint32_t>(0)},
      {kTable, loopback_v4(40001), loopback_v4(5000), std::optional<std::uint32_t>()},  // closed
      {kTable, loopback_v4(40002), loopback_v4(5000), std::nullopt},
      {kTable6, loopback_v6(40000), loopback_v6(5000), std::optional<std::uint32_t>(1001)},
      {kTable6, loopback_v6(5000), loopback_v6(40000), std::nullopt},
  };
  for (const auto& c : cases) {
    const auto owner = owner_in_kernel_table(c.table, c.local, c.remote);
    ASSERT_EQ(owner.has_value(), c.owner.has_value()) << c.local.port << " -> " << c.remote.port;
    if (owner) {
      EXPECT_EQ(owner->uid, *c.owner) << c.local.port << " -> " << c.remote.port;
    }
  }
  EXPECT_EQ(kernel_tcp_table_path(loopback_v6(1)), "/proc/net/tcp6");
}

}  // namespace
}  // namespace vesk
