#pragma once
// Which user runs the other end of an accepted loopback connection. Loopback is open to
// every user of the machine, so the broker admits only peers of its own user. Linux reads
// the owner of the peer's socket from the kernel's TCP tables; a Windows twin asks for
// the process that owns the connection and then that process's user.

#include <string>

#include "base/error.hpp"
#include "platform/socket.hpp"

namespace vesk {

struct PeerUser {
  bool same_as_ours = false;
  std::string name;  // how the system names the peer's user, for log lines ("uid 1000")
};

// Fails when the peer's socket cannot be found (it closed already, or it is not a TCP
// connection on this machine); a caller that must be sure treats that as a stranger.
Result<PeerUser> connection_peer_user(SocketHandle connection);

}  // namespace vesk
