#include "base/log.hpp"

#include <cstdio>
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
  // Standard error is unbuffered: the text goes out in one write. A failing standard
  // error is ignored: logging never changes an operation's outcome.
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void log_line(LogLevel level, std::string_view message) {
  std::string line = "[" + utc_timestamp() + "] vesk ";
  line += level == LogLevel::Info ? "INFO " : "DEBUG ";
  line += escape_log_text(message);
  line += '\n';
  write_stderr(line);
}

}  // namespace vesk
