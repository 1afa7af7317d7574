#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/random.hpp"

namespace vesk {

void fill_random_bytes(std::span<unsigned char> bytes) {
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "vesk: the system random generator (getrandom) failed: %s\n", std::strerror(errno));
      std::abort();
    }
    filled += static_cast<std::size_t>(got);
  }
}

}  // namespace vesk
