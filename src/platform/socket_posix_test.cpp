#include <fcntl.h>

#include <gtest/gtest.h>

#include "platform/socket.hpp"

namespace vesk {
namespace {

// A started browser inherits nothing of ours, and callers read with blocking calls.
TEST(ConnectTcp, TheSocketIsBlockingAndClosedOnExec) {
  auto pair = connected_socket_pair();
  ASSERT_TRUE(pair) << pair.error().text();
  for (const auto* socket : {&pair->first, &pair->second}) {
    const int fd = static_cast<int>(socket->get());
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_FALSE(::fcntl(fd, F_GETFL) & O_NONBLOCK);
  }
}

}  // namespace
}  // namespace vesk
