#include "protocol/json_writer.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/base64.hpp"

namespace vesk {

namespace {

constexpr std::uint64_t kOnes = ~std::uint64_t{0} / 255;  // 0x0101...01
constexpr std::uint64_t kHighBits = kOnes * 0x80;

// Whether any of the eight bytes is written other than as itself: a control character,
// a quotation mark, a reverse solidus, or a non-ASCII byte (which must be checked).
bool has_special_byte(std::uint64_t word) {
  const auto has_zero = [](std::uint64_t x) { return (x - kOnes) & ~x & kHighBits; };
  const std::uint64_t below_space = (word - kOnes * 0x20) & ~word & kHighBits;
  return (below_space | has_zero(word ^ (kOnes * '"')) | has_zero(word ^ (kOnes * '\\')) | (word & kHighBits)) != 0;
}

bool is_plain_byte(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

bool is_plain_text(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  for (; end - p >= 8; p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if (has_special_byte(word)) return false;
  }
  for (; p != end; ++p) {
    if (!is_plain_byte(static_cast<unsigned char>(*p))) return false;
  }
  return true;
}

std::string general_dump(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

// A binary value as a string of its base64 text, made and written a block at a time.
void write_base64_string(TextSink& sink, const Json::binary_t& bytes) {
  constexpr std::size_t kBlockBytes = 3 * 256 * 1024;  // a whole number of 3-byte groups
  const std::string_view all(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::string block(base64_size(std::min(all.size(), kBlockBytes)), '\0');
  sink.append("\"");
  for (std::size_t offset = 0; offset < all.size(); offset += kBlockBytes) {
    const std::string_view piece = all.substr(offset, kBlockBytes);
    base64_encode_into(piece, block.data());
    sink.append(std::string_view(block).substr(0, base64_size(piece.size())));
  }
  sink.append("\"");
}

}  // namespace

void write_json_string(TextSink& sink, std::string_view text) {
  if (!is_plain_text(text)) {
    sink.append(general_dump(Json(text)));  // escapes, and U+FFFD for invalid UTF-8
    return;
  }
  sink.append("\"");
  sink.append(text);
  sink.append("\"");
}

void write_compact_json(TextSink& sink, const Json& value) {
  switch (value.type()) {
    case Json::value_t::object: {
      sink.append("{");
      bool first = true;
      for (const auto& [key, member] : value.items()) {
        if (!first) sink.append(",");
        first = false;
        write_json_string(sink, key);
        sink.append(":");
        write_compact_json(sink, member);
      }
      sink.append("}");
      return;
    }
    case Json::value_t::array: {
      sink.append("[");
      bool first = true;
      for (const Json& element : value) {
        if (!first) sink.append(",");
        first = false;
        write_compact_json(sink, element);
      }
      sink.append("]");
      return;
    }
    case Json::value_t::string:
      write_json_string(sink, value.get_ref<const std::string&>());
      return;
    case Json::value_t::binary:
      write_base64_string(sink, value.get_binary());
      return;
    default:
      sink.append(general_dump(value));
      return;
  }
}

}  // namespace vesk
