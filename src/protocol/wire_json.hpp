#pragma once
// Parsing of message text on the wire. Messages can be large (uploads carry whole files
// as strings), and the general JSON parser takes a slow path per character. The reader
// here handles the common case in bulk: runs of plain string bytes are found a word at a
// time and copied once.
//
// It is a fast path only. It builds exactly the value parse_json would (same number
// types, same duplicate-key rule, same UTF-8 checks), and whenever it meets anything it
// does not handle itself (a syntax error, a byte order mark, numbers out of range, very
// deep nesting) it gives up and parse_json decides, so errors keep parse_json's wording.

#include <optional>
#include <string_view>

#include "base/error.hpp"
#include "base/json.hpp"

namespace vesk {

// The value of a JSON text, or nullopt when the fast path does not take it (which
// includes every invalid text). Never throws.
std::optional<Json> parse_json_fast(std::string_view text);

// A message object whose members are the seven of the wire record in wire order
// (message.hpp), read without building its payloads: `header` holds id, kind, version,
// method and error; params and result are checked to be JSON the fast path takes and are
// located in the text. nullopt for anything else, including every invalid text.
struct WireMembers {
  Json header;
  std::string_view params;
  std::string_view result;
};
std::optional<WireMembers> read_wire_members(std::string_view text);

// parse_json_fast, then parse_json for whatever it did not take.
Result<Json> parse_wire_json(std::string_view text);

}  // namespace vesk
