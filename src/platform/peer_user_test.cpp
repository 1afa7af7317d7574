#include "platform/peer_user.hpp"

#include <gtest/gtest.h>

namespace vesk {
namespace {

// Both systems' twins: a loopback connection from this very process is our own user's.
TEST(ConnectionPeerUser, OurOwnConnectionIsOurUser) {
  auto pair = connected_socket_pair();
  ASSERT_TRUE(pair) << pair.error().text();
  auto peer = connection_peer_user(pair->first.get());
  ASSERT_TRUE(peer) << peer.error().text();
  EXPECT_TRUE(peer->same_as_ours) << peer->name;
  EXPECT_FALSE(peer->name.empty());
}

}  // namespace
}  // namespace vesk
