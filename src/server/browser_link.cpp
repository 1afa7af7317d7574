#include "server/browser_link.hpp"

#include <sys/socket.h>

namespace vesk {

void BrowserLink::attach_socket(int fd) {
  std::lock_guard guard(socket_mutex_);
  socket_fd_ = fd;
  // Retired before the thread got here: make its first read or write fail at once.
  if (retired_ && fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

void BrowserLink::detach_socket() {
  std::lock_guard guard(socket_mutex_);
  socket_fd_ = -1;
}

void BrowserLink::retire() {
  jobs_.close();
  std::lock_guard guard(socket_mutex_);
  retired_ = true;
  if (socket_fd_ >= 0) ::shutdown(socket_fd_, SHUT_RDWR);
}

}  // namespace vesk
