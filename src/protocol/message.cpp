#include "protocol/message.hpp"

#include <array>
#include <limits>
#include <type_traits>

#include "platform/random.hpp"
#include "protocol/json_writer.hpp"

namespace vesk {

namespace {

constexpr std::array<std::pair<MessageKind, std::string_view>, 5> kKindNames{{
    {MessageKind::Hello, "hello"},
    {MessageKind::Request, "request"},
    {MessageKind::Response, "response"},
    {MessageKind::Event, "event"},
    {MessageKind::Error, "error"},
}};

// The members in wire order; the array form reads them by these positions.
enum Field : std::size_t { kId, kKind, kVersion, kMethod, kParams, kResult, kError, kFieldCount };
constexpr std::array<const char*, kFieldCount> kFieldNames{"id",     "kind",   "version", "method",
                                                           "params", "result", "error"};

// Compact, non-ASCII as UTF-8; invalid UTF-8 becomes U+FFFD instead of throwing.
std::string compact(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string json_string(std::string_view text) { return compact(Json(text)); }

std::string missing(std::string_view name) { return "missing field `" + std::string(name) + "`"; }

std::string wrong_type(std::string_view name, std::string_view expected, const Json& found) {
  return "invalid type for `" + std::string(name) + "`: expected " + std::string(expected) + ", found " +
         found.type_name();
}

// The value of one member: by name in the object form, by position in the array form.
// nullptr when the object lacks it.
template <class J>
J* member(J& value, Field field) {
  if (value.is_array()) return &value[field];
  const auto it = value.find(kFieldNames[field]);
  return it == value.end() ? nullptr : &*it;
}

bool is_present(const Json* value) { return value != nullptr && !value->is_null(); }

Result<std::uint32_t> read_u32(const Json& value, std::string_view name) {
  const bool fits = (value.is_number_unsigned() &&
                     value.get<std::uint64_t>() <= std::numeric_limits<std::uint32_t>::max()) ||
                    (value.is_number_integer() && value.get<std::int64_t>() == 0);  // "-0"
  if (!fits) {
    return fail("invalid value for `" + std::string(name) + "`: expected an unsigned 32-bit integer, found " +
                compact(value));
  }
  return static_cast<std::uint32_t>(value.get<std::uint64_t>());
}

Result<MessageKind> read_kind(const Json& value) {
  if (!value.is_string()) return fail(wrong_type("kind", "a string", value));
  const auto& text = value.get_ref<const std::string&>();
  for (const auto& [kind, name] : kKindNames) {
    if (text == name) return kind;
  }
  return fail("unknown kind " + json_string(text) + ", expected one of hello, request, response, event, error");
}

// Checks the error object; the payload (details) is taken later by take_payload.
Result<ProtocolError> read_error(const Json& value) {
  if (!value.is_object()) return fail(wrong_type("error", "an object", value));
  ProtocolError error;
  for (const auto* name : {"code", "message"}) {
    const auto it = value.find(name);
    if (it == value.end()) return fail(missing(name) + " in `error`");
    if (!it->is_string()) return fail(wrong_type(std::string("error.") + name, "a string", *it));
  }
  error.code = value["code"].get<std::string>();
  error.message = value["message"].get<std::string>();
  return error;
}

// Everything except the payloads (params, result, error details), which may be large.
Result<Message> read_header(const Json& value) {
  if (value.is_array() && value.size() != kFieldCount) {
    return fail("expected an array of 7 elements, found " + std::to_string(value.size()) + " elements");
  }
  if (!value.is_object() && !value.is_array()) {
    return fail(std::string("expected a message object or an array of 7 elements, found ") + value.type_name());
  }
  Message message;

  const Json* id = member(value, kId);
  if (id == nullptr) return fail(missing("id"));
  if (!id->is_string()) return fail(wrong_type("id", "a string", *id));
  message.id = id->get<std::string>();

  const Json* kind = member(value, kKind);
  if (kind == nullptr) return fail(missing("kind"));
  auto kind_value = read_kind(*kind);
  if (!kind_value) return fail(kind_value.error());
  message.kind = *kind_value;

  const Json* version = member(value, kVersion);
  if (version == nullptr) return fail(missing("version"));
  auto version_value = read_u32(*version, "version");
  if (!version_value) return fail(version_value.error());
  message.version = *version_value;

  const Json* method = member(value, kMethod);
  if (is_present(method)) {
    if (!method->is_string()) return fail(wrong_type("method", "a string", *method));
    message.method = method->get<std::string>();
  }

  const Json* error = member(value, kError);
  if (is_present(error)) {
    auto error_value = read_error(*error);
    if (!error_value) return fail(error_value.error());
    message.error = std::move(*error_value);
  }
  return message;
}

// Copies (const source) or moves (mutable source) params, result and error details.
template <class J>
void take_payload(J& value, Message& message) {
  auto take = [](auto& source) -> Json {
    if constexpr (std::is_const_v<std::remove_reference_t<decltype(source)>>) {
      return source;
    } else {
      return std::move(source);
    }
  };
  if (auto* params = member(value, kParams)) message.params = take(*params);
  if (auto* result = member(value, kResult); is_present(result)) message.result = take(*result);
  if (message.error) {
    auto& error = *member(value, kError);
    if (const auto it = error.find("details"); it != error.end() && !it->is_null()) {
      message.error->details = take(*it);
    }
  }
}

}  // namespace

std::string_view kind_name(MessageKind kind) {
  for (const auto& [value, name] : kKindNames) {
    if (value == kind) return name;
  }
  return "unknown";
}

Message request_message(std::string id, std::string method, Json params) {
  Message message;
  message.id = std::move(id);
  message.kind = MessageKind::Request;
  message.method = std::move(method);
  message.params = std::move(params);
  return message;
}

Message response_message(std::string id, Json result) {
  Message message;
  message.id = std::move(id);
  message.kind = MessageKind::Response;
  message.params = Json::object();
  message.result = std::move(result);
  return message;
}

Message error_message(std::string id, std::string code, std::string message_text) {
  Message message;
  message.id = std::move(id);
  message.kind = MessageKind::Error;
  message.params = Json::object();
  message.error = ProtocolError{std::move(code), std::move(message_text), std::nullopt};
  return message;
}

namespace {

// The members before the payloads, and params.
void write_head(TextSink& sink, const Message& message, const Json& params) {
  // Written piece by piece rather than through an ordered object, so that a large params
  // or result is serialised once, straight to the sink, and never copied.
  sink.append("{\"id\":");
  write_json_string(sink, message.id);
  sink.append(",\"kind\":");
  write_json_string(sink, kind_name(message.kind));
  sink.append(",\"version\":" + std::to_string(message.version) + ",\"method\":");
  if (message.method) {
    write_json_string(sink, *message.method);
  } else {
    sink.append("null");
  }
  sink.append(",\"params\":");
  write_compact_json(sink, params);
}

}  // namespace

void write_request_text(TextSink& sink, std::string id, std::string method, const Json& params) {
  write_head(sink, request_message(std::move(id), std::move(method), nullptr), params);
  sink.append(",\"result\":null,\"error\":null}");
}

void write_message_text(TextSink& sink, const Message& message) {
  write_head(sink, message, message.params);
  sink.append(",\"result\":");
  if (message.result) {
    write_compact_json(sink, *message.result);
  } else {
    sink.append("null");
  }
  sink.append(",\"error\":");
  if (message.error) {
    sink.append("{\"code\":");
    write_json_string(sink, message.error->code);
    sink.append(",\"message\":");
    write_json_string(sink, message.error->message);
    sink.append(",\"details\":");
    if (message.error->details) {
      write_compact_json(sink, *message.error->details);
    } else {
      sink.append("null");
    }
    sink.append("}");
  } else {
    sink.append("null");
  }
  sink.append("}");
}

std::string encode_message(const Message& message) {
  std::string out;
  StringSink sink(out);
  write_message_text(sink, message);
  return out;
}

Result<Message> decode_message(const Json& value) {
  auto message = read_header(value);
  if (message) take_payload(value, *message);
  return message;
}

Result<Message> decode_message_taking(Json& value) {
  auto message = read_header(value);
  if (message) take_payload(value, *message);
  return message;
}

std::string new_request_id() {
  std::array<unsigned char, 16> uuid{};
  fill_random_bytes(uuid);
  uuid[6] = static_cast<unsigned char>((uuid[6] & 0x0F) | 0x40);  // version 4: random
  uuid[8] = static_cast<unsigned char>((uuid[8] & 0x3F) | 0x80);  // the RFC 4122 variant
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id = "cli_";
  for (const unsigned char byte : uuid) {
    id += kHex[byte >> 4];
    id += kHex[byte & 0x0F];
  }
  return id;
}

}  // namespace vesk
