#include "protocol/wire_json.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "platform/memory.hpp"

namespace vesk {

namespace {

// Deeper texts go to parse_json, which applies the program's nesting limit itself.
constexpr int kFastPathMaxDepth = 500;

constexpr std::uint64_t kOnes = ~std::uint64_t{0} / 255;  // 0x0101...01
constexpr std::uint64_t kHighBits = kOnes * 0x80;

// Whether any of the eight bytes needs a closer look inside a string: a control
// character, a quotation mark, a reverse solidus or a non-ASCII byte.
bool has_special_byte(std::uint64_t word) {
  const auto has_zero = [](std::uint64_t x) { return (x - kOnes) & ~x & kHighBits; };
  const std::uint64_t below_space = (word - kOnes * 0x20) & ~word & kHighBits;
  return (below_space | has_zero(word ^ (kOnes * '"')) | has_zero(word ^ (kOnes * '\\')) | (word & kHighBits)) != 0;
}

// The first byte in [p, end) that ends a run of plain string bytes, or a little before it
// (the caller finishes byte by byte): sixteen bytes at a time where SSE2 is available,
// eight otherwise.
const char* skip_plain_bytes(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i space = _mm_set1_epi8(0x20);
  while (end - p >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Signed comparison: bytes of 0x80 and above count as below the space too.
    const __m128i special = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
                                         _mm_cmplt_epi8(bytes, space));
    const int mask = _mm_movemask_epi8(special);
    if (mask != 0) return p + std::countr_zero(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if (has_special_byte(word)) break;
    p += 8;
  }
  return p;
}

bool is_whitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(std::string& out, std::uint32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code_point >> 18));
    out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

// Where a string's bytes go when it is only checked, not kept.
struct DiscardedText {
  bool empty() const { return true; }
  void append(const char*, const char*) {}
  void append(const char*, std::size_t) {}
  void operator+=(char) {}
};

void append_utf8(DiscardedText&, std::uint32_t) {}

// Recursive descent over the text. Every method returns false to give up.
class FastReader {
 public:
  explicit FastReader(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

  bool read_document(Json& out) {
    skip_whitespace();
    if (!read_value(out, 0)) return false;
    skip_whitespace();
    return p_ == end_;
  }

  // An object whose members are exactly `names`, in that order. The members in `kept`
  // are read into `values`; the others are checked and located in `spans` only.
  template <std::size_t N>
  bool read_members(const std::array<std::string_view, N>& names, const std::array<bool, N>& kept,
                    std::array<Json, N>& values, std::array<std::string_view, N>& spans) {
    skip_whitespace();
    if (p_ == end_ || *p_++ != '{') return false;
    for (std::size_t i = 0; i < N; ++i) {
      skip_whitespace();
      if (p_ == end_ || *p_ != '"') return false;
      std::string key;
      if (!read_string(key) || key != names[i]) return false;
      skip_whitespace();
      if (p_ == end_ || *p_++ != ':') return false;
      skip_whitespace();
      const char* start = p_;
      if (!(kept[i] ? read_value(values[i], 1) : skip_value(1))) return false;
      spans[i] = std::string_view(start, static_cast<std::size_t>(p_ - start));
      skip_whitespace();
      if (p_ == end_ || *p_++ != (i + 1 == N ? '}' : ',')) return false;
    }
    skip_whitespace();
    return p_ == end_;
  }

 private:
  // The same checks as read_value, building nothing.
  bool skip_value(int depth) {
    if (p_ == end_) return false;
    switch (*p_) {
      case '{':
      case '[':
        return skip_container(depth + 1);
      case '"': {
        DiscardedText text;
        return read_string(text);
      }
      default: {
        Json scalar;  // literals and numbers are short
        return read_value(scalar, depth);
      }
    }
  }

  bool skip_container(int depth) {
    if (depth > kFastPathMaxDepth) return false;
    const char close = *p_ == '{' ? '}' : ']';
    const bool object = close == '}';
    ++p_;
    skip_whitespace();
    if (p_ != end_ && *p_ == close) {
      ++p_;
      return true;
    }
    for (;;) {
      skip_whitespace();
      if (object) {
        DiscardedText key;
        if (p_ == end_ || *p_ != '"' || !read_string(key)) return false;
        skip_whitespace();
        if (p_ == end_ || *p_++ != ':') return false;
        skip_whitespace();
      }
      if (!skip_value(depth)) return false;
      skip_whitespace();
      if (p_ == end_) return false;
      if (*p_ == close) {
        ++p_;
        return true;
      }
      if (*p_++ != ',') return false;
    }
  }

  void skip_whitespace() {
    while (p_ != end_ && is_whitespace(*p_)) ++p_;
  }

  bool read_value(Json& out, int depth) {
    if (p_ == end_) return false;
    switch (*p_) {
      case '{':
        return read_object(out, depth + 1);
      case '[':
        return read_array(out, depth + 1);
      case '"': {
        std::string text;
        if (!read_string(text)) return false;
        out = std::move(text);
        return true;
      }
      case 't':
        return read_literal("true", out, true);
      case 'f':
        return read_literal("false", out, false);
      case 'n':
        return read_literal("null", out, nullptr);
      default:
        return read_number(out);
    }
  }

  template <class T>
  bool read_literal(std::string_view word, Json& out, T value) {
    if (static_cast<std::size_t>(end_ - p_) < word.size() || std::string_view(p_, word.size()) != word) return false;
    p_ += word.size();
    out = value;
    return true;
  }

  bool read_object(Json& out, int depth) {
    if (depth > kFastPathMaxDepth) return false;
    ++p_;  // '{'
    out = Json::object();
    auto& members = out.get_ref<Json::object_t&>();
    skip_whitespace();
    if (p_ != end_ && *p_ == '}') {
      ++p_;
      return true;
    }
    for (;;) {
      skip_whitespace();
      if (p_ == end_ || *p_ != '"') return false;
      std::string key;
      if (!read_string(key)) return false;
      skip_whitespace();
      if (p_ == end_ || *p_ != ':') return false;
      ++p_;
      skip_whitespace();
      Json value;
      if (!read_value(value, depth)) return false;
      members[std::move(key)] = std::move(value);  // a repeated key keeps its last value
      skip_whitespace();
      if (p_ == end_) return false;
      if (*p_ == '}') {
        ++p_;
        return true;
      }
      if (*p_++ != ',') return false;
    }
  }

  bool read_array(Json& out, int depth) {
    if (depth > kFastPathMaxDepth) return false;
    ++p_;  // '['
    out = Json::array();
    auto& elements = out.get_ref<Json::array_t&>();
    skip_whitespace();
    if (p_ != end_ && *p_ == ']') {
      ++p_;
      return true;
    }
    for (;;) {
      skip_whitespace();
      elements.emplace_back();
      if (!read_value(elements.back(), depth)) return false;
      skip_whitespace();
      if (p_ == end_) return false;
      if (*p_ == ']') {
        ++p_;
        return true;
      }
      if (*p_++ != ',') return false;
    }
  }

  // Copies runs of plain bytes whole; stops at the closing quotation mark.
  template <class Text>
  bool read_string(Text& out) {
    ++p_;  // opening '"'
    for (;;) {
      const char* run = p_;
      p_ = skip_plain_bytes(p_, end_);
      while (p_ != end_ && static_cast<unsigned char>(*p_) >= 0x20 && *p_ != '"' && *p_ != '\\' &&
             static_cast<unsigned char>(*p_) < 0x80) {
        ++p_;
      }
      if constexpr (std::is_same_v<Text, std::string>) {
        if (out.empty() && static_cast<std::size_t>(p_ - run) >= kLargeBufferBytes) {
          // A large string (an upload): one allocation of the right size, filled once.
          out.reserve(static_cast<std::size_t>(p_ - run));
          advise_huge_pages(out.data(), out.capacity());
        }
      }
      out.append(run, p_);
      if (p_ == end_) return false;
      const auto byte = static_cast<unsigned char>(*p_);
      if (byte == '"') {
        ++p_;
        return true;
      }
      if (byte == '\\') {
        if (!read_escape(out)) return false;
      } else if (byte >= 0x80) {
        if (!copy_utf8_sequence(out)) return false;
      } else {
        return false;  // a raw control character
      }
    }
  }

  template <class Text>
  bool read_escape(Text& out) {
    ++p_;  // '\'
    if (p_ == end_) return false;
    const char c = *p_++;
    switch (c) {
      case '"':
      case '\\':
      case '/':
        out += c;
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        return read_unicode_escape(out);
      default:
        return false;
    }
  }

  bool read_hex4(std::uint32_t& value) {
    if (end_ - p_ < 4) return false;
    value = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = hex_value(*p_++);
      if (digit < 0) return false;
      value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return true;
  }

  // After "\u": one code point, or a surrogate pair written as two escapes.
  template <class Text>
  bool read_unicode_escape(Text& out) {
    std::uint32_t code_point;
    if (!read_hex4(code_point)) return false;
    if (code_point >= 0xDC00 && code_point <= 0xDFFF) return false;
    if (code_point >= 0xD800 && code_point <= 0xDBFF) {
      if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') return false;
      p_ += 2;
      std::uint32_t low;
      if (!read_hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
      code_point = 0x10000 + ((code_point - 0xD800) << 10) + (low - 0xDC00);
    }
    append_utf8(out, code_point);
    return true;
  }

  // One multi-byte UTF-8 sequence: no overlongs, no surrogates, nothing past U+10FFFF.
  template <class Text>
  bool copy_utf8_sequence(Text& out) {
    const auto at = [&](std::ptrdiff_t i) { return static_cast<unsigned char>(p_[i]); };
    const unsigned char lead = at(0);
    int length;
    unsigned char second_min = 0x80;
    unsigned char second_max = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) second_min = 0xA0;
      if (lead == 0xED) second_max = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) second_min = 0x90;
      if (lead == 0xF4) second_max = 0x8F;
    } else {
      return false;
    }
    if (end_ - p_ < length) return false;
    if (at(1) < second_min || at(1) > second_max) return false;
    for (int i = 2; i < length; ++i) {
      if (at(i) < 0x80 || at(i) > 0xBF) return false;
    }
    out.append(p_, static_cast<std::size_t>(length));
    p_ += length;
    return true;
  }

  // JSON number grammar; integers as u64 (non-negative) or i64 (negative) when they fit,
  // everything else as a double, as parse_json does.
  bool read_number(Json& out) {
    const char* start = p_;
    const bool negative = p_ != end_ && *p_ == '-';
    if (negative) ++p_;
    if (p_ == end_) return false;
    if (*p_ == '0') {
      ++p_;
    } else if (*p_ >= '1' && *p_ <= '9') {
      while (p_ != end_ && *p_ >= '0' && *p_ <= '9') ++p_;
    } else {
      return false;
    }
    bool integral = true;
    if (p_ != end_ && *p_ == '.') {
      integral = false;
      ++p_;
      if (!skip_digits()) return false;
    }
    if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
      integral = false;
      ++p_;
      if (p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
      if (!skip_digits()) return false;
    }
    if (integral) {
      if (negative) {
        std::int64_t value;
        if (std::from_chars(start, p_, value).ec == std::errc()) {
          out = value;
          return true;
        }
      } else {
        std::uint64_t value;
        if (std::from_chars(start, p_, value).ec == std::errc()) {
          out = value;
          return true;
        }
      }
    }
    double value;
    const auto [end, error] = std::from_chars(start, p_, value);
    if (error != std::errc() || end != p_ || !std::isfinite(value)) return false;
    out = value;
    return true;
  }

  bool skip_digits() {
    const char* first = p_;
    while (p_ != end_ && *p_ >= '0' && *p_ <= '9') ++p_;
    return p_ != first;
  }

  const char* p_;
  const char* end_;
};

}  // namespace

std::optional<Json> parse_json_fast(std::string_view text) {
  Json value;
  try {
    if (FastReader(text).read_document(value)) return value;
  } catch (const std::exception&) {
    // Out of memory while building the value: let the general parser have its try.
  }
  return std::nullopt;
}

std::optional<WireMembers> read_wire_members(std::string_view text) {
  static constexpr std::array<std::string_view, 7> kNames{"id", "kind", "version", "method",
                                                          "params", "result", "error"};
  static constexpr std::array<bool, 7> kKept{true, true, true, true, false, false, true};
  std::array<Json, 7> values;
  std::array<std::string_view, 7> spans;
  try {
    if (!FastReader(text).read_members(kNames, kKept, values, spans)) return std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;
  }
  WireMembers members;
  members.header = Json::object();
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    if (kKept[i]) members.header[std::string(kNames[i])] = std::move(values[i]);
  }
  members.params = spans[4];
  members.result = spans[5];
  return members;
}

Result<Json> parse_wire_json(std::string_view text) {
  if (auto value = parse_json_fast(text)) return std::move(*value);
  return parse_json(text);
}

}  // namespace vesk
