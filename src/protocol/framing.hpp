#pragma once
// Messages on a byte stream: no envelope, one JSON text after another. The reader cuts
// one message out by scanning brackets (outside strings) until depth returns to zero.
// It reads in blocks and keeps the surplus bytes with the Connection for the next call.
// The older browser frames {"type":"hello",…} and {"type":"heartbeat",…} are turned into
// ordinary messages.

#include <string>

#include "base/error.hpp"
#include "platform/byte_buffer.hpp"
#include "platform/socket.hpp"
#include "protocol/message.hpp"

namespace vesk {

// A connected stream socket and the bytes read from it but not yet consumed.
// Owned and used by one thread at a time.
class Connection {
 public:
  explicit Connection(UniqueSocket socket) : socket_(std::move(socket)) {}
  [[nodiscard]] SocketHandle socket() const { return socket_.get(); }
  // Closes the socket (both directions); later reads and writes fail.
  void close() { socket_.reset(); }

 private:
  friend Result<Message> read_message(Connection& connection);
  UniqueSocket socket_;
  // Bytes received but not yet returned as part of a message: pending_[consumed_, size).
  // During a read the message being cut out also lives here, so it is copied only when
  // the buffer is compacted, never byte by byte.
  ByteBuffer pending_;
  std::size_t consumed_ = 0;
};

// Errors: "failed to fill whole buffer" (EndOfStream) when the stream ends before a
// message is complete; socket errors (a time-out is TimedOut); the JSON parser's error;
// "unsupported JSON message after {reason}: {compact value}".
Result<Message> read_message(Connection& connection);
// Errors: "failed to write whole buffer" or the socket error.
Status write_message(Connection& connection, const Message& message);

}  // namespace vesk
