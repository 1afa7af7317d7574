#include "protocol/relayed_message.hpp"

#include "protocol/wire_json.hpp"

namespace vesk {

namespace {

// Anything the quick reading does not take (another member order, the array form, the
// older frames, invalid text) is decoded whole, with decode's errors, and written afresh.
Result<RelayedMessage> relayed_from_text(std::string_view text) {
  if (auto members = read_wire_members(text)) {
    if (auto header = decode_message_taking(members->header)) {
      return RelayedMessage{std::move(*header), std::string(text)};
    }
  }
  auto message = decode_message_text(text);
  if (!message) return fail(message.error());
  return relayed(*message);
}

}  // namespace

Result<RelayedMessage> read_relayed_message(Connection& connection) {
  Result<RelayedMessage> message = fail("no message");
  auto read = read_message_text(connection, [&](std::string_view text) { message = relayed_from_text(text); });
  if (!read) return fail(read.error());
  return message;
}

Result<Message> decode_relayed_message(const RelayedMessage& message) { return decode_message_text(message.text); }

RelayedMessage relayed(const Message& message) { return RelayedMessage{message, encode_message(message)}; }

Status write_relayed_message(Connection& connection, const RelayedMessage& message) {
  return write_all(connection.socket(), message.text);
}

}  // namespace vesk
