#pragma once
// The one JSON value type of the program. Objects keep members sorted by key in byte
// order (a repeated key keeps its last value); numbers are u64, i64 or double.
// OrderedJson keeps insertion order, for files written with a fixed member order.

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/error.hpp"

namespace vesk {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

// Nesting deeper than this is refused before anything recursive (printing, copying,
// comparing) could exhaust the stack.
inline constexpr int kMaxJsonDepth = 512;

// Parses UTF-8 JSON text. Errors carry the parser's message (line and column) or
// "JSON nested deeper than 512 levels".
Result<Json> parse_json(std::string_view text);
Result<OrderedJson> parse_ordered_json(std::string_view text);

// Replaces, in place, each \uXXXX escape of an unpaired UTF-16 surrogate in JSON text with
// \ufffd (the same length). Chromium writes strings as UTF-16 code units, so a page's
// unpaired surrogate (text a script built) reaches us as such an escape, which the JSON
// reader rightly refuses. Returns whether anything was replaced.
bool replace_lone_surrogate_escapes(std::string& text);
// parse_json() for text from Chromium: text refused for a lone surrogate's escape is read
// again with the surrogate as U+FFFD.
Result<Json> parse_json_mending_surrogates(std::string_view text);

// Appends `text` as a JSON string literal: quote and backslash escaped, \b \f \n \r \t,
// other bytes below 0x20 as \u00xx (lowercase hex), every other byte unchanged (so bytes
// that are not UTF-8 are written as they are, where the JSON library's dump would throw).
void append_json_string(std::string& out, std::string_view text);

// Whether the bytes are valid UTF-8 (no overlongs, no surrogates, nothing past U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

}  // namespace vesk
