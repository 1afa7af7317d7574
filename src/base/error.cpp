#include "base/error.hpp"

#include <cerrno>
#include <cstring>

namespace vesk {

Error::Error(std::string message, ErrorKind kind) : messages_{std::move(message)}, kind_(kind) {}

Error Error::wrap(std::string context) const& {
  Error copy = *this;
  return std::move(copy).wrap(std::move(context));
}

Error Error::wrap(std::string context) && {
  messages_.insert(messages_.begin(), std::move(context));
  return std::move(*this);
}

std::string Error::text() const {
  std::string out;
  for (const auto& m : messages_) {
    if (!out.empty()) out += ": ";
    out += m;
  }
  return out;
}

namespace {
ErrorKind kind_for_errno(int e) {
  switch (e) {
    case ETIMEDOUT:
    case EAGAIN:
      return ErrorKind::TimedOut;
    case ENOENT:
    case ESRCH:
      return ErrorKind::NotFound;
    default:
      return ErrorKind::Other;
  }
}
}  // namespace

Error system_error(int errno_value) {
  std::string text = std::strerror(errno_value);
  if (errno_value == EAGAIN) text = "timed out";  // socket time-outs report EAGAIN
  return Error(text + " (os error " + std::to_string(errno_value) + ")", kind_for_errno(errno_value));
}

Error system_error(int errno_value, std::string context) {
  return system_error(errno_value).wrap(std::move(context));
}

}  // namespace vesk
