// Temporary until the platform layer's socket.cpp lands; removed at that merge.
#include <unistd.h>

#include "platform/socket.hpp"

namespace vesk {
UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}
UniqueFd::~UniqueFd() { reset(); }
int UniqueFd::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}
void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}
}  // namespace vesk
