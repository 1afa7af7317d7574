#include "server/browser_link.hpp"

namespace vesk {

void BrowserLink::attach_socket(SocketHandle socket) {
  std::lock_guard guard(socket_mutex_);
  socket_ = socket;
  // Retired before the thread got here: make its first read or write fail at once.
  if (retired_ && socket != SocketHandle::invalid) shutdown_socket(socket);
}

void BrowserLink::detach_socket() {
  std::lock_guard guard(socket_mutex_);
  socket_ = SocketHandle::invalid;
}

void BrowserLink::retire() {
  jobs_.close();
  std::lock_guard guard(socket_mutex_);
  retired_ = true;
  if (socket_ != SocketHandle::invalid) shutdown_socket(socket_);
}

}  // namespace vesk
