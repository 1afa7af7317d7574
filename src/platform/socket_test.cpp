#include "platform/socket.hpp"

#include <gtest/gtest.h>

#include <thread>

namespace vesk {
namespace {

using namespace std::chrono_literals;

TEST(ParseSocketAddress, AcceptsNumericEndpointsOnly) {
  struct Case {
    const char* endpoint;
    const char* text;  // nullptr: refused
  } cases[] = {
      {"127.0.0.1:80", "127.0.0.1:80"},
      {"0.0.0.0:0", "0.0.0.0:0"},
      {"[::1]:51234", "[::1]:51234"},
      {"[::ffff:1.2.3.4]:9", "[::ffff:1.2.3.4]:9"},
      {"127.0.0.1:65535", "127.0.0.1:65535"},
      {"localhost:80", nullptr},
      {"127.0.0.1:65536", nullptr},
      {"127.0.0.1:", nullptr},
      {"127.0.0.1:+80", nullptr},
      {"127.0.0.1: 80", nullptr},
      {"127.0.0.1:0x50", nullptr},
      {"127.1:80", nullptr},
      {"127.0.0.1", nullptr},
      {"::1:80", nullptr},
      {"[::1]80", nullptr},
      {"[::1:80", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    auto address = parse_socket_address(c.endpoint);
    if (c.text == nullptr) {
      EXPECT_FALSE(address) << c.endpoint;
      continue;
    }
    ASSERT_TRUE(address) << c.endpoint << ": " << address.error().text();
    EXPECT_EQ(address->text(), c.text);
  }
}

TEST(ResolveSocketAddresses, NamesResolveAndNumericAddressesPassThrough) {
  auto numeric = resolve_socket_addresses("127.0.0.1:7");
  ASSERT_TRUE(numeric);
  ASSERT_EQ(numeric->size(), 1u);
  EXPECT_EQ(numeric->front().text(), "127.0.0.1:7");

  auto named = resolve_socket_addresses("localhost:7");
  ASSERT_TRUE(named) << named.error().text();
  ASSERT_FALSE(named->empty());
  for (const auto& address : *named) EXPECT_TRUE(address.text().ends_with(":7")) << address.text();

  EXPECT_FALSE(resolve_socket_addresses("localhost"));
  EXPECT_FALSE(resolve_socket_addresses("localhost:port"));
}

TEST(TcpListener, BindsAnEphemeralPortAcceptsAndNamesThePeer) {
  auto listener = TcpListener::bind("127.0.0.1:0");
  ASSERT_TRUE(listener) << listener.error().text();
  auto port = listener->local_port();
  ASSERT_TRUE(port);
  ASSERT_NE(*port, 0);

  auto address = parse_socket_address("127.0.0.1:" + std::to_string(*port));
  ASSERT_TRUE(address);
  auto client = connect_tcp(*address, 5s);
  ASSERT_TRUE(client) << client.error().text();

  auto accepted = listener->accept();
  ASSERT_TRUE(accepted) << accepted.error().text();
  EXPECT_TRUE(accepted->peer.starts_with("127.0.0.1:")) << accepted->peer;
  EXPECT_NE(accepted->peer, "127.0.0.1:" + std::to_string(*port));

  ASSERT_TRUE(write_all(client->get(), "ping"));
  std::string received;
  while (received.size() < 4) {
    char buffer[4];
    auto got = receive_some(accepted->socket.get(), buffer, sizeof buffer);
    ASSERT_TRUE(got && *got > 0);
    received.append(buffer, *got);
  }
  EXPECT_EQ(received, "ping");
}

TEST(TcpListener, ASecondListenerOnATakenPortFailsNamingTheEndpoint) {
  auto first = TcpListener::bind("127.0.0.1:0");
  ASSERT_TRUE(first);
  const std::string endpoint = "127.0.0.1:" + std::to_string(*first->local_port());
  auto second = TcpListener::bind(endpoint);
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error().message(), "failed to bind " + endpoint);
  ASSERT_GT(second.error().messages().size(), 1u) << "the system's reason follows";
  // The same words on every system.
  EXPECT_TRUE(second.error().messages()[1].starts_with("Address already in use")) << second.error().text();
}

TEST(TcpListener, AnUnresolvableNameFailsToBind) {
  auto listener = TcpListener::bind("no-such-host.invalid:0");
  ASSERT_FALSE(listener);
  EXPECT_EQ(listener.error().message(), "failed to bind no-such-host.invalid:0");
}

TEST(ConnectTcp, ARefusedConnectionIsAnErrorNotATimeOut) {
  // Bind then close to find a port that nothing listens on.
  std::uint16_t port = 0;
  {
    auto listener = TcpListener::bind("127.0.0.1:0");
    ASSERT_TRUE(listener);
    port = *listener->local_port();
  }
  auto address = parse_socket_address("127.0.0.1:" + std::to_string(port));
  ASSERT_TRUE(address);
  auto client = connect_tcp(*address, 5s);
  ASSERT_FALSE(client);
  EXPECT_EQ(client.error().kind(), ErrorKind::Other);
  EXPECT_NE(client.error().text().find("refused"), std::string::npos) << client.error().text();
}

TEST(SocketTimeouts, AReadThatWaitsTooLongReportsTimedOut) {
  auto pair = connected_socket_pair();
  ASSERT_TRUE(pair) << pair.error().text();
  ASSERT_TRUE(set_socket_timeouts(pair->first.get(), 50ms, 50ms));
  char byte;
  auto got = receive_some(pair->first.get(), &byte, 1);
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().kind(), ErrorKind::TimedOut) << got.error().text();
}

TEST(WriteAll, WritingToAClosedPeerIsAnErrorNotASignal) {
  auto pair = connected_socket_pair();
  ASSERT_TRUE(pair) << pair.error().text();
  pair->second.reset();
  // The first sends may still be accepted until the peer's reset arrives.
  Status written;
  for (int i = 0; i < 100 && written; ++i) written = write_all(pair->first.get(), std::string(65536, 'x'));
  ASSERT_FALSE(written);
}

TEST(WriteAll, WritesLargeBuffersWholeAndReceiveSomeSeesTheEnd) {
  auto pair = connected_socket_pair();
  ASSERT_TRUE(pair) << pair.error().text();
  const std::string data(1 << 20, 'x');
  std::string received;
  std::thread reader([&] {
    char buffer[65536];
    for (;;) {
      auto got = receive_some(pair->first.get(), buffer, sizeof buffer);
      if (!got || *got == 0) return;
      received.append(buffer, *got);
    }
  });
  EXPECT_TRUE(write_all(pair->second.get(), data));
  pair->second.reset();
  reader.join();
  EXPECT_EQ(received, data);
}

}  // namespace
}  // namespace vesk
