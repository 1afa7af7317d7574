#include "base/json.hpp"

#include <optional>
#include <utility>

#include "base/utf8.hpp"

namespace vesk {

namespace {

constexpr char kJsonHexDigits[] = "0123456789abcdef";

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

namespace {

// The code unit of the \uXXXX escape at `at`, or -1 when no such escape starts there.
int escaped_code_unit(std::string_view text, std::size_t at) {
  if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u') return -1;
  int unit = 0;
  for (std::size_t i = at + 2; i < at + 6; ++i) {
    const char c = text[i];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

}  // namespace

bool replace_lone_surrogate_escapes(std::string& text) {
  bool replaced = false;
  auto replace_at = [&](std::size_t at) {
    text.replace(at, 6, "\\ufffd");
    replaced = true;
  };
  // A high surrogate's escape waits here for the low one that must follow it at once.
  std::optional<std::size_t> high_at;
  for (std::size_t i = 0; i < text.size();) {
    const int unit = escaped_code_unit(text, i);
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (high_at && !low) replace_at(*std::exchange(high_at, std::nullopt));
    if (high) {
      high_at = i;
    } else if (low) {
      if (!high_at) replace_at(i);
      high_at.reset();
    }
    // Past the whole escape: a \\ pair must not start another one.
    i += unit >= 0 ? 6 : text[i] == '\\' ? 2 : 1;
  }
  if (high_at) replace_at(*high_at);
  return replaced;
}

Result<Json> parse_json_mending_surrogates(std::string_view text) {
  auto parsed = parse_json(text);
  if (parsed) return parsed;
  std::string mended(text);
  if (!replace_lone_surrogate_escapes(mended)) return parsed;
  return parse_json(mended);
}

bool is_valid_utf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const size_t len = utf8_sequence_length(bytes, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

void append_json_string(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20) {
          out += "\\u00";
          out += kJsonHexDigits[byte >> 4];
          out += kJsonHexDigits[byte & 0x0F];
        } else {
          out += c;
        }
      }
    }
  }
  out += '"';
}

}  // namespace vesk
