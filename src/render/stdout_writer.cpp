#include "render/stdout_writer.hpp"

#include <unistd.h>

#include <cerrno>

namespace vesk {

Status write_stdout(std::string_view text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(STDOUT_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(system_error(errno, "failed to write to standard output"));
    if (n == 0) return fail("failed to write to standard output: nothing was written");
    p += n;
    left -= static_cast<size_t>(n);
  }
  return {};
}

}  // namespace vesk
