#include "base/json.hpp"

namespace vesk {

namespace {

struct TooDeep {};

template <class J>
Result<J> parse_with_limit(std::string_view text) {
  try {
    return J::parse(text.begin(), text.end(), [](int depth, typename J::parse_event_t, J&) {
      if (depth > kMaxJsonDepth) throw TooDeep{};
      return true;
    });
  } catch (const TooDeep&) {
    return fail("JSON nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
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
  size_t i = 0;
  const size_t n = bytes.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    unsigned min;
    unsigned cp;
    if ((c & 0xE0) == 0xC0) {
      len = 2, min = 0x80, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3, min = 0x800, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4, min = 0x10000, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      const auto cc = static_cast<unsigned char>(bytes[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

}  // namespace vesk
