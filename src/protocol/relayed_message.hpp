#pragma once
// A message that is passed on rather than acted on: the broker reads the members it routes
// by (id, kind, version, method, error) and forwards the bytes as they came, so a large
// upload or answer is neither built as a value nor written out again.

#include "base/error.hpp"
#include "protocol/framing.hpp"
#include "protocol/message.hpp"

namespace vesk {

struct RelayedMessage {
  // Everything but the payloads; params and result stay null here.
  Message header;
  // The message's text: the bytes as received when they were a wire record in wire order,
  // otherwise the record written out afresh (as write_message would).
  ReceivedText text;
};

// read_message's checks and errors, without building params or result where the text is
// a wire record in wire order (what every sender of ours writes).
Result<RelayedMessage> read_relayed_message(Connection& connection);
// The whole message, params and result included.
Result<Message> decode_relayed_message(const RelayedMessage& message);
RelayedMessage relayed(const Message& message);
Status write_relayed_message(Connection& connection, const RelayedMessage& message);

}  // namespace vesk
