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

// parse_json_fast, then parse_json for whatever it did not take.
Result<Json> parse_wire_json(std::string_view text);

}  // namespace vesk
