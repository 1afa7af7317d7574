#pragma once
// The wire record. Every exchange (client to broker, broker to browser) is one Message:
// a JSON object with exactly seven members, always written in this order:
//   {"id":…,"kind":…,"version":…,"method":…,"params":…,"result":…,"error":…}
// Reading: id, kind and version are required; method/result/error may be missing or null
// (both mean absent); params missing gives null. Other members are ignored. A JSON array
// of exactly seven elements in the same order decodes like the object.

#include <cstdint>
#include <optional>
#include <string>

#include "base/error.hpp"
#include "base/json.hpp"

namespace vesk {

inline constexpr std::uint32_t PROTOCOL_VERSION = 1;

// Written and read as "hello", "request", "response", "event", "error" (exact case).
enum class MessageKind { Hello, Request, Response, Event, Error };

struct ProtocolError {
  std::string code;
  std::string message;
  std::optional<Json> details;
};

struct Message {
  std::string id;
  MessageKind kind = MessageKind::Request;
  std::uint32_t version = PROTOCOL_VERSION;
  std::optional<std::string> method;
  Json params;  // never absent; may be null
  std::optional<Json> result;
  std::optional<ProtocolError> error;
};

Message request_message(std::string id, std::string method, Json params);
Message response_message(std::string id, Json result);
Message error_message(std::string id, std::string code, std::string message);

class TextSink;
// Compact JSON, the seven members in order, non-ASCII written as UTF-8.
std::string encode_message(const Message& message);
// The same text, handed to `sink` in pieces.
void write_message_text(TextSink& sink, const Message& message);
// The text of request_message(id, method, params), without a copy of params.
void write_request_text(TextSink& sink, std::string id, std::string method, const Json& params);
// The reason on failure names what was wrong (missing member, wrong type, unknown kind).
Result<Message> decode_message(const Json& value);
// The same, but moves params, result and error details out of `value` instead of copying
// them (large uploads). On failure `value` is left unchanged.
Result<Message> decode_message_taking(Json& value);

// "cli_" and the 32 lower-case hex digits of a random version-4 UUID.
std::string new_request_id();

std::string_view kind_name(MessageKind kind);

}  // namespace vesk
