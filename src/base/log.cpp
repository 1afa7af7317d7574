#include "base/log.hpp"

#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>

#include "base/log_text.hpp"
#include "base/timestamp.hpp"

namespace vesk {

namespace {
std::mutex stderr_lock;
}

void write_stderr(std::string_view text) {
  std::lock_guard guard(stderr_lock);
  // A failing standard error is ignored: logging never changes an operation's outcome.
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

void log_line(LogLevel level, std::string_view message) {
  std::string line = "[" + utc_timestamp() + "] vesk ";
  line += level == LogLevel::Info ? "INFO " : "DEBUG ";
  line += escape_log_text(message);
  line += '\n';
  write_stderr(line);
}

}  // namespace vesk
