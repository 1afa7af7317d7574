#pragma once
// Messages on a byte stream: no envelope, one JSON text after another. The reader cuts
// one message out by scanning brackets (outside strings) until depth returns to zero.
// It reads in blocks and keeps the surplus bytes with the Connection for the next call.
// The older browser frames {"type":"hello",…} and {"type":"heartbeat",…} are turned into
// ordinary messages.

#include <functional>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/error.hpp"
#include "platform/byte_buffer.hpp"
#include "platform/socket.hpp"
#include "protocol/message.hpp"
#include "protocol/received_text.hpp"

namespace vesk {

// The largest message read by default: far above the largest upload the command line
// sends, and a bound on what a peer that never ends its message can make us buffer.
inline constexpr std::size_t kMaxMessageBytes = std::size_t{1} << 30;

// A connected stream socket and the bytes read from it but not yet consumed.
// Owned and used by one thread at a time.
class Connection {
 public:
  explicit Connection(UniqueSocket socket) : socket_(std::move(socket)) {}
  [[nodiscard]] SocketHandle socket() const { return socket_.get(); }
  // Closes the socket (both directions); later reads and writes fail.
  void close() { socket_.reset(); }

  // A read fails once one message has grown past this many bytes without its end.
  void set_max_message_bytes(std::size_t bytes) { max_message_bytes_ = bytes; }
  // Reads fail with TimedOut once this moment has passed; nullopt waits without limit
  // (or as long as the socket's own time-outs allow).
  void set_read_deadline(std::optional<std::chrono::steady_clock::time_point> deadline) { read_deadline_ = deadline; }

 private:
  friend class MessageCutter;
  UniqueSocket socket_;
  std::size_t max_message_bytes_ = kMaxMessageBytes;
  std::optional<std::chrono::steady_clock::time_point> read_deadline_;
  // Bytes received but not yet returned as part of a message: pending_[consumed_, size).
  // During a read the message being cut out also lives here, so it is copied only when
  // the buffer is compacted, never byte by byte.
  ByteBuffer pending_;
  std::size_t consumed_ = 0;
};

// Errors: "failed to fill whole buffer" (EndOfStream) when the stream ends before a
// message is complete; socket errors (a time-out or the read deadline is TimedOut);
// "message exceeds the maximum size ..." past the connection's limit; the JSON parser's error;
// "unsupported JSON message after {reason}: {compact value}".
Result<Message> read_message(Connection& connection);
// The text of the next message on the stream, handed to `use` while it is still in the
// connection's buffer; the read errors of read_message, no parsing.
Status read_message_text(Connection& connection, const std::function<void(std::string_view)>& use);
// The text of the next message as bytes of its own, with read_message_text's errors. A large
// message that ends what has been received takes the connection's buffer along instead of
// being copied out of it.
Result<ReceivedText> take_message_text(Connection& connection);
// A message's text as read_message decodes it, with its errors.
Result<Message> decode_message_text(std::string_view text);
// Errors: "failed to write whole buffer" or the socket error.
Status write_message(Connection& connection, const Message& message);
// The same for request_message(id, method, params), without a copy of params.
Status write_request(Connection& connection, std::string id, std::string method, const Json& params);

}  // namespace vesk
