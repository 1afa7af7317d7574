#include "platform/socket.hpp"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

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
  EXPECT_TRUE(::fcntl(client->get(), F_GETFD) & FD_CLOEXEC);
  EXPECT_FALSE(::fcntl(client->get(), F_GETFL) & O_NONBLOCK);

  auto accepted = listener->accept();
  ASSERT_TRUE(accepted) << accepted.error().text();
  EXPECT_TRUE(accepted->peer.starts_with("127.0.0.1:")) << accepted->peer;
  EXPECT_NE(accepted->peer, "127.0.0.1:" + std::to_string(*port));
  EXPECT_TRUE(::fcntl(accepted->fd.get(), F_GETFD) & FD_CLOEXEC);

  ASSERT_TRUE(write_all(client->get(), "ping"));
  char buffer[4];
  ASSERT_EQ(::recv(accepted->fd.get(), buffer, sizeof buffer, MSG_WAITALL), 4);
  EXPECT_EQ(std::string_view(buffer, 4), "ping");
}

TEST(TcpListener, ASecondListenerOnATakenPortFailsNamingTheEndpoint) {
  auto first = TcpListener::bind("127.0.0.1:0");
  ASSERT_TRUE(first);
  const std::string endpoint = "127.0.0.1:" + std::to_string(*first->local_port());
  auto second = TcpListener::bind(endpoint);
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error().message(), "failed to bind " + endpoint);
  EXPECT_NE(second.error().text().find("Address already in use"), std::string::npos)
      << second.error().text();
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
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  UniqueFd reader(pair[0]);
  UniqueFd writer(pair[1]);
  ASSERT_TRUE(set_socket_timeouts(reader.get(), 50ms, 50ms));
  char byte;
  ASSERT_LT(::recv(reader.get(), &byte, 1, 0), 0);
  EXPECT_EQ(system_error(errno).kind(), ErrorKind::TimedOut);
}

TEST(WriteAll, WritingToAClosedPeerIsAnErrorNotASignal) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  UniqueFd writer(pair[0]);
  ::close(pair[1]);
  auto written = write_all(writer.get(), "data");
  ASSERT_FALSE(written);
  EXPECT_NE(written.error().text().find("Broken pipe"), std::string::npos) << written.error().text();
}

TEST(WriteAll, WritesLargeBuffersWholeAndWorksOnPipes) {
  int pipe_fds[2];
  ASSERT_EQ(::pipe2(pipe_fds, O_CLOEXEC), 0);
  UniqueFd read_end(pipe_fds[0]);
  UniqueFd write_end(pipe_fds[1]);
  const std::string data(1 << 20, 'x');
  std::string received;
  std::thread reader([&] {
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(read_end.get(), buffer, sizeof buffer)) > 0) received.append(buffer, n);
  });
  EXPECT_TRUE(write_all(write_end.get(), data));
  write_end.reset();
  reader.join();
  EXPECT_EQ(received, data);
}

TEST(UniqueFd, ClosesOnDestructionAndMoves) {
  int pipe_fds[2];
  ASSERT_EQ(::pipe2(pipe_fds, O_CLOEXEC), 0);
  ::close(pipe_fds[1]);
  UniqueFd moved;
  {
    UniqueFd owner(pipe_fds[0]);
    moved = std::move(owner);
    EXPECT_FALSE(owner.valid());
  }
  EXPECT_EQ(::fcntl(pipe_fds[0], F_GETFD) >= 0, true);
  moved.reset();
  EXPECT_EQ(::fcntl(pipe_fds[0], F_GETFD), -1);
}

}  // namespace
}  // namespace vesk
