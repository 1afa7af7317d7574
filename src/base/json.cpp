#include "base/json.hpp"

#include "base/utf8.hpp"

namespace vesk {

namespace {

// Whether objects and arrays nest deeper than `limit` anywhere in the text, counted
// outside strings. A separate linear pass: the parser's per-value callback could enforce
// the limit, but with a callback the parser rescans every array after each of its
// elements, which made loading a state file of many records quadratic.
bool nested_deeper_than(std::string_view text, int limit) {
  int depth = 0;
  bool in_string = false;
  bool escaped = false;
  for (const char c : text) {
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      if (++depth > limit) return true;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return false;
}

template <class J>
Result<J> parse_with_limit(std::string_view text) {
  if (nested_deeper_than(text, kMaxJsonDepth)) {
    return fail("JSON nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
  }
  try {
    return J::parse(text.begin(), text.end());
  } catch (const nlohmann::json::exception& e) {
    return fail(e.what());
  }
}

}  // namespace

Result<Json> parse_json(std::string_view text) { return parse_with_limit<Json>(text); }
Result<OrderedJson> parse_ordered_json(std::string_view text) {
  return parse_with_limit<OrderedJson>(text);
}

bool is_valid_utf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const size_t len = utf8_sequence_length(bytes, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

}  // namespace vesk
