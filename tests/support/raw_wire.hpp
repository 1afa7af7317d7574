#pragma once
// The test side of the wire, written independently of the code under test: raw loopback
// sockets, JSON texts cut out of the byte stream by bracket scanning (strings and escapes
// respected), and one-shot client calls. Every wait has a deadline, so a broker that
// misbehaves fails a test instead of hanging it.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/socket.hpp"

namespace vesk::test {

using Json = nlohmann::json;
using std::chrono::milliseconds;

// An owned socket, closed on destruction.
class RawSocket {
 public:
  RawSocket() = default;
  explicit RawSocket(UniqueSocket socket) : socket_(std::move(socket)) {}

  [[nodiscard]] SocketHandle handle() const { return socket_.get(); }
  [[nodiscard]] bool valid() const { return socket_.valid(); }
  // Shuts both directions down: wakes a thread blocked on this socket.
  void shutdown() const;
  void close() { socket_.reset(); }

 private:
  UniqueSocket socket_;
};

// Connects to 127.0.0.1:port, retrying until `wait` has passed. Invalid socket on failure;
// `error` (if given) then says why.
RawSocket connect_loopback(std::uint16_t port, milliseconds wait, std::string* error = nullptr);
RawSocket connect_host(const std::string& host, std::uint16_t port, milliseconds wait,
                       std::string* error = nullptr);

// Sends every byte; false on failure.
bool send_text(const RawSocket& socket, std::string_view text);

// Cuts whole JSON texts out of a stream and keeps the bytes that follow for the next call.
class FrameReader {
 public:
  enum class Status { Frame, Closed, TimedOut, Failed };
  struct Outcome {
    Status status;
    std::string text;  // the frame exactly as received, when status is Frame
  };
  // `wait` of nullopt blocks without limit (a serving loop woken by shutdown()).
  Outcome read(const RawSocket& socket, std::optional<milliseconds> wait);

 private:
  std::optional<std::string> take_frame();
  std::string buffer_;
  // Where the scan of buffer_ stopped, and its state there: each byte is scanned once, so
  // a large frame arriving in many blocks costs linear time.
  size_t scanned_ = 0;
  size_t begin_ = 0;
  bool started_ = false;
  bool in_string_ = false;
  bool escaped_ = false;
  int depth_ = 0;
};

// One client call as the command line makes it: a new connection, one text written, one
// text read back. nullopt (with `error` set) when any step fails or `wait` passes.
std::optional<std::string> call_raw(std::uint16_t port, std::string_view request_text,
                                    milliseconds wait = milliseconds(20000),
                                    std::string* error = nullptr);

// A request message text with all seven members in wire order (as the protocol encodes it).
std::string request_text(const std::string& id, const std::string& method, const Json& params);

}  // namespace vesk::test
