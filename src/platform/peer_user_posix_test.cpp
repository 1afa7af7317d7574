#include "platform/peer_user.hpp"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace vesk {
namespace {

using namespace std::chrono_literals;

struct Accepted {
  AcceptedConnection connection;
  pid_t child = -1;
};

// Accepts one connection on a fresh loopback listener from a forked child that switches
// to `uid` (when not ours) before it connects and then waits to be killed.
Accepted accept_from_child(const std::string& host, uid_t uid) {
  auto listener = TcpListener::bind(host + ":0");
  EXPECT_TRUE(listener) << listener.error().text();
  auto port = listener->local_port();
  EXPECT_TRUE(port);
  auto address = parse_socket_address(host + ":" + std::to_string(*port));
  EXPECT_TRUE(address);
  const pid_t child = ::fork();
  if (child == 0) {
    // Only async-signal-safe calls from here on: the parent has threads.
    if (uid != ::geteuid() && (::setgid(uid) != 0 || ::setuid(uid) != 0)) ::_exit(2);
    const int fd = ::socket(reinterpret_cast<const sockaddr*>(address->storage)->sa_family, SOCK_STREAM, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(address->storage), address->length) != 0) {
      ::_exit(3);
    }
    for (;;) ::pause();
  }
  auto accepted = listener->accept();
  EXPECT_TRUE(accepted);
  return {std::move(*accepted), child};
}

void stop(pid_t child) {
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

TEST(ConnectionPeerUser, OurOwnUserOnBothAddressFamilies) {
  for (const std::string host : {"127.0.0.1", "[::1]"}) {
    SCOPED_TRACE(host);
    auto accepted = accept_from_child(host, ::geteuid());
    auto peer = connection_peer_user(accepted.connection.socket.get());
    stop(accepted.child);
    ASSERT_TRUE(peer) << peer.error().text();
    EXPECT_TRUE(peer->same_as_ours);
    EXPECT_EQ(peer->name, "uid " + std::to_string(::geteuid()));
  }
}

TEST(ConnectionPeerUser, AnotherUserIsToldApart) {
  if (::geteuid() != 0) GTEST_SKIP() << "switching to another user needs root";
  constexpr uid_t kNobody = 65534;
  auto accepted = accept_from_child("127.0.0.1", kNobody);
  auto peer = connection_peer_user(accepted.connection.socket.get());
  stop(accepted.child);
  ASSERT_TRUE(peer) << peer.error().text();
  EXPECT_FALSE(peer->same_as_ours);
  EXPECT_EQ(peer->name, "uid 65534");
}

TEST(ConnectionPeerUser, ASocketThatIsNotTcpIsRefused) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  UniqueSocket ours(static_cast<SocketHandle>(pair[0]));
  UniqueSocket theirs(static_cast<SocketHandle>(pair[1]));
  EXPECT_FALSE(connection_peer_user(ours.get()));
}

}  // namespace
}  // namespace vesk
