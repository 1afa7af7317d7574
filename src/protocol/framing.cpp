#include "protocol/framing.hpp"

#include <cstring>
#include <functional>
#include <algorithm>
#include <cstdint>
#include <utility>

#include "protocol/json_writer.hpp"
#include "protocol/wire_json.hpp"

namespace vesk {

namespace {

// The least a receive asks for.
constexpr std::size_t kReadBlock = 64 * 1024;
// A buffer grown beyond this by one large message is released once the message is done.
constexpr std::size_t kKeptCapacity = 1024 * 1024;

bool is_leading_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// Finds where one JSON object or array ends by counting brackets outside strings. The
// state survives between blocks, so every byte is looked at once however the message
// arrives. Inside strings the scan jumps with memchr from one quotation mark or reverse
// solidus to the next; the positions found are remembered, so long strings full of
// escapes stay linear too.
class BracketScanner {
 public:
  // Scans data[from, to). Returns the index just past the closing bracket that completes
  // the message, or npos when more bytes are needed.
  std::size_t scan(const char* data, std::size_t from, std::size_t to) {
    next_quote_ = next_backslash_ = Found{};  // positions are valid for this block only
    std::size_t i = from;
    while (i < to) {
      if (!started_) {
        if (is_leading_space(data[i])) {
          ++i;
          continue;
        }
        started_ = true;
        begin_ = i;
      }
      if (in_string_) {
        i = skip_in_string(data, i, to);
        continue;
      }
      switch (data[i++]) {
        case '"':
          in_string_ = true;
          break;
        case '{':
        case '[':
          ++depth_;
          break;
        case '}':
        case ']':
          if (--depth_ == 0) return i;
          break;
        default:
          break;
      }
    }
    return std::string_view::npos;
  }

  [[nodiscard]] bool started() const { return started_; }
  // Index of the message's first byte (valid once started).
  [[nodiscard]] std::size_t begin() const { return begin_; }
  // The buffer was compacted: everything before the message was dropped.
  void message_moved_to_front() { begin_ = 0; }

 private:
  std::size_t skip_in_string(const char* data, std::size_t i, std::size_t to) {
    if (escaped_) {
      escaped_ = false;
      return i + 1;
    }
    const std::size_t quote = find(data, i, to, '"', next_quote_);
    const std::size_t backslash = find(data, i, quote, '\\', next_backslash_);
    if (backslash < quote) {
      escaped_ = true;
      return backslash + 1;
    }
    if (quote < to) in_string_ = false;
    return quote + 1 > to ? to : quote + 1;
  }

  // The last answer of find() for one byte: where the byte was found, or where the
  // search ended without finding it. Valid within one scan() call (one data pointer).
  struct Found {
    std::size_t position = 0;
    bool hit = false;
    bool valid = false;
  };

  // First index of `byte` in data[i, to), or `to`. Positions only move forward within a
  // block, so a remembered answer at or after i saves searching the same bytes again.
  static std::size_t find(const char* data, std::size_t i, std::size_t to, char byte, Found& found) {
    if (found.valid && i <= found.position) {
      if (found.hit) return found.position < to ? found.position : to;
      if (to <= found.position) return to;
      i = found.position;  // nothing before there; search only the new bytes
    }
    const void* hit = std::memchr(data + i, byte, to - i);
    found.valid = true;
    found.hit = hit != nullptr;
    found.position = found.hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - data) : to;
    return found.position;
  }

  bool started_ = false;
  bool in_string_ = false;
  bool escaped_ = false;
  std::int32_t depth_ = 0;
  std::size_t begin_ = 0;
  Found next_quote_;
  Found next_backslash_;
};

// One receive into the end of `buffer`, as much as its spare capacity takes. Returns the
// number of bytes received (0 at the end of the stream).
Result<std::size_t> receive_more(SocketHandle socket, ByteBuffer& buffer,
                                 const std::optional<std::chrono::steady_clock::time_point>& deadline) {
  if (!buffer.reserve_extra(kReadBlock)) {
    return fail("out of memory reading a message of more than " + std::to_string(buffer.size()) + " bytes");
  }
  if (deadline) {
    if (auto ready = wait_readable(socket, *deadline); !ready) return fail(ready.error());
  }
  auto got = receive_some(socket, buffer.data() + buffer.size(), buffer.capacity() - buffer.size());
  if (got) buffer.commit(*got);
  return got;
}

// Parses the message text; a value too large for memory is an error like any other.
Result<Json> parse_message_text(std::string_view text) {
  try {
    return parse_wire_json(text);
  } catch (const std::bad_alloc&) {
    return fail("out of memory parsing a message of " + std::to_string(text.size()) + " bytes");
  }
}

std::string compact(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

bool is_non_negative_integer(const Json& value) {
  return value.is_number_unsigned() || (value.is_number_integer() && value.get<std::int64_t>() >= 0);
}

// The older browser frames, tried only after the value failed to decode as a message.
Result<Message> decode_legacy_frame(Json& value, const Error& reason) {
  const auto unsupported = [&] {
    return fail("unsupported JSON message after " + reason.text() + ": " + compact(value));
  };
  if (!value.is_object()) return unsupported();
  const auto type = value.find("type");
  if (type == value.end() || !type->is_string()) return unsupported();

  Message message;
  message.version = PROTOCOL_VERSION;
  if (*type == "heartbeat") {
    message.id = "heartbeat";
    message.kind = MessageKind::Event;
    message.method = "heartbeat";
    message.params = std::move(value);
    return message;
  }
  if (*type != "hello") return unsupported();

  const auto protocol_version = value.find("protocol_version");
  if (protocol_version == value.end() || !is_non_negative_integer(*protocol_version)) return unsupported();
  const auto token = value.find("token");
  if (token == value.end() || !token->is_string()) return unsupported();
  const auto instance_id = value.find("instance_id");
  if (instance_id == value.end() || !instance_id->is_string()) return unsupported();

  message.id = "hello";
  message.kind = MessageKind::Request;
  message.method = "hello";
  message.params = Json{{"instanceId", *instance_id}, {"protocolVersion", *protocol_version}, {"token", *token}};
  return message;
}

}  // namespace

// Cuts messages out of a connection's buffer: receives until one is whole, then hands it
// out and keeps what follows it for the next read.
class MessageCutter {
 public:
  explicit MessageCutter(Connection& connection)
      : connection_(connection), buffer_(connection.pending_), consumed_(connection.consumed_) {}

  // Receives until the buffer holds a whole message; its bounds [begin, end) in the buffer.
  Result<std::pair<std::size_t, std::size_t>> receive_whole() {
    BracketScanner scanner;
    std::size_t position = consumed_;
    std::size_t end = std::string_view::npos;
    while ((end = scanner.scan(buffer_.data(), position, buffer_.size())) == std::string_view::npos) {
      // Everything up to the end is scanned: drop what lies before the message, then read on.
      if (!scanner.started()) {
        buffer_.clear();
      } else if (scanner.begin() > 0) {
        buffer_.drop_front(scanner.begin());
        scanner.message_moved_to_front();
      }
      consumed_ = 0;
      position = buffer_.size();
      if (buffer_.size() > connection_.max_message_bytes_) {
        // Nothing of it is worth keeping: the connection cannot go on after this message.
        const std::size_t received = buffer_.size();
        buffer_.clear();
        buffer_.shrink();
        return fail("message exceeds the maximum size of " + std::to_string(connection_.max_message_bytes_) +
                    " bytes (" + std::to_string(received) + " bytes received without its end)");
      }
      auto received = receive_more(connection_.socket(), buffer_, connection_.read_deadline_);
      if (!received) return fail(received.error());
      if (*received == 0) return fail("failed to fill whole buffer", ErrorKind::EndOfStream);
    }
    return std::pair{scanner.begin(), end};
  }

  [[nodiscard]] std::string_view text(std::size_t begin, std::size_t end) const {
    return buffer_.view().substr(begin, end - begin);
  }

  // A large message with nothing received after it: the whole buffer goes with it.
  [[nodiscard]] bool can_take_buffer(std::size_t end) const {
    return end == buffer_.size() && buffer_.capacity() > kKeptCapacity;
  }

  ReceivedText take_buffer(std::size_t begin, std::size_t end) {
    ReceivedText taken(std::move(buffer_), begin, end - begin);
    buffer_ = ByteBuffer();
    consumed_ = 0;
    return taken;
  }

  // The message up to `end` is used: keep only what follows it.
  void consume(std::size_t end) {
    consumed_ = end;
    if (consumed_ == buffer_.size()) {
      buffer_.clear();
      consumed_ = 0;
    }
    if (buffer_.capacity() > kKeptCapacity) {
      // A large message is done: keep only what follows it.
      buffer_.drop_front(consumed_);
      consumed_ = 0;
      buffer_.shrink(kReadBlock);
    }
  }

 private:
  Connection& connection_;
  ByteBuffer& buffer_;
  std::size_t& consumed_;
};

Status read_message_text(Connection& connection, const std::function<void(std::string_view)>& use) {
  MessageCutter cutter(connection);
  auto bounds = cutter.receive_whole();
  if (!bounds) return fail(bounds.error());
  use(cutter.text(bounds->first, bounds->second));
  cutter.consume(bounds->second);
  return {};
}

Result<ReceivedText> take_message_text(Connection& connection) {
  MessageCutter cutter(connection);
  auto bounds = cutter.receive_whole();
  if (!bounds) return fail(bounds.error());
  const auto [begin, end] = *bounds;
  if (cutter.can_take_buffer(end)) return cutter.take_buffer(begin, end);
  ReceivedText copied{std::string(cutter.text(begin, end))};
  cutter.consume(end);
  return copied;
}

Result<Message> decode_message_text(std::string_view text) {
  auto value = parse_message_text(text);
  if (!value) return fail(value.error());
  auto message = decode_message_taking(*value);
  if (message) return message;
  return decode_legacy_frame(*value, message.error());
}

Result<Message> read_message(Connection& connection) {
  Result<Message> message = fail("no message");
  auto read = read_message_text(connection, [&](std::string_view text) { message = decode_message_text(text); });
  if (!read) return fail(read.error());
  return message;
}

namespace {

// Gathers small pieces into blocks and sends a large piece (a file's worth of string) as
// it is, so that a message goes out in few large writes without a second copy of it.
class SocketSink final : public TextSink {
 public:
  explicit SocketSink(SocketHandle socket) : socket_(socket) {}

  void append(std::string_view piece) override {
    if (block_.size() + piece.size() <= kWriteBlock) {
      block_.append(piece);
      return;
    }
    flush();
    if (piece.size() >= kWriteBlock) {
      if (status_) status_ = write_all(socket_, piece);
    } else {
      block_.append(piece);
    }
  }

  Status finish() {
    flush();
    return status_;
  }

 private:
  static constexpr std::size_t kWriteBlock = 1024 * 1024;

  void flush() {
    if (status_ && !block_.empty()) status_ = write_all(socket_, block_);
    block_.clear();
  }

  SocketHandle socket_;
  std::string block_;
  Status status_;
};

}  // namespace

Status write_message(Connection& connection, const Message& message) {
  SocketSink sink(connection.socket());
  write_message_text(sink, message);
  return sink.finish();
}

Status write_request(Connection& connection, std::string id, std::string method, const Json& params) {
  SocketSink sink(connection.socket());
  write_request_text(sink, std::move(id), std::move(method), params);
  return sink.finish();
}

}  // namespace vesk
