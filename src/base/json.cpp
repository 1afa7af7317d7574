#include "base/json.hpp"

#include "base/utf8.hpp"

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
  for (size_t i = 0; i < bytes.size();) {
    const size_t len = utf8_sequence_length(bytes, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

}  // namespace vesk
