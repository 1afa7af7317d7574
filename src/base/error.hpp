#pragma once
// Errors are values. An Error is a chain of messages, outermost first: lower-level
// failures are wrapped with context ("failed to bind 127.0.0.1:80") and never replaced.
// Written as text, the chain is its messages joined by ": ".

#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

// The few distinctions that code branches on. Everything else is Other.
enum class ErrorKind {
  Other,
  TimedOut,     // a deadline or socket time-out passed
  EndOfStream,  // the peer closed the connection
  NotFound,     // a file, record or process that does not exist
};

class Error {
 public:
  explicit Error(std::string message, ErrorKind kind = ErrorKind::Other);

  // The same chain with `context` in front; the kind stays that of the root cause.
  [[nodiscard]] Error wrap(std::string context) const&;
  [[nodiscard]] Error wrap(std::string context) &&;

  [[nodiscard]] const std::vector<std::string>& messages() const { return messages_; }
  [[nodiscard]] const std::string& message() const { return messages_.front(); }
  [[nodiscard]] ErrorKind kind() const { return kind_; }
  // The chain as one line: "outer: cause: root cause".
  [[nodiscard]] std::string text() const;

 private:
  std::vector<std::string> messages_;
  ErrorKind kind_;
};

template <class T>
using Result = std::expected<T, Error>;
using Status = std::expected<void, Error>;

inline std::unexpected<Error> fail(std::string message, ErrorKind kind = ErrorKind::Other) {
  return std::unexpected<Error>(Error(std::move(message), kind));
}
inline std::unexpected<Error> fail(Error error) { return std::unexpected<Error>(std::move(error)); }

// An Error for an errno value, with the system's text ("Connection refused").
// ETIMEDOUT/EAGAIN map to TimedOut, ENOENT/ESRCH to NotFound.
Error system_error(int errno_value);
// The same, wrapped in `context`.
Error system_error(int errno_value, std::string context);

}  // namespace vesk
