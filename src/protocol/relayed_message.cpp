#include "protocol/relayed_message.hpp"

#include "protocol/wire_json.hpp"

namespace vesk {

namespace {

// Anything the quick reading does not take (another member order, the array form, the
// older frames, invalid text) is decoded whole, with decode's errors, and written afresh.
Result<RelayedMessage> relayed_from_text(ReceivedText text) {
  if (auto members = read_wire_members(text.view())) {
    if (auto header = decode_message_taking(members->header)) {
      return RelayedMessage{std::move(*header), std::move(text)};
    }
  }
  auto message = decode_message_text(text.view());
  if (!message) return fail(message.error());
  return relayed(*message);
}

}  // namespace

Result<RelayedMessage> read_relayed_message(Connection& connection) {
  auto text = take_message_text(connection);
  if (!text) return fail(text.error());
  return relayed_from_text(std::move(*text));
}

Result<Message> decode_relayed_message(const RelayedMessage& message) {
  return decode_message_text(message.text.view());
}

RelayedMessage relayed(const Message& message) {
  return RelayedMessage{message, ReceivedText(encode_message(message))};
}

Status write_relayed_message(Connection& connection, const RelayedMessage& message) {
  return write_all(connection.socket(), message.text.view());
}

}  // namespace vesk
