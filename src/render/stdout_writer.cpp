#include "render/stdout_writer.hpp"

#include <cerrno>
#include <cstdio>

namespace vesk {

Status write_stdout(std::string_view text) {
  // Flushed at once: a closed or full standard output is this command's error, not
  // something lost in a buffer at exit.
  errno = 0;
  const bool whole = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  if (std::fflush(stdout) != 0 || !whole) {
    // What did not go out is dropped, and the next command's output starts clean.
    std::clearerr(stdout);
    if (errno != 0) return fail(system_error(errno, "failed to write to standard output"));
    return fail("failed to write to standard output: nothing was written");
  }
  return {};
}

}  // namespace vesk
