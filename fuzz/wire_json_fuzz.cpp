// The fast wire reader against the general parser. The fast reader may give up on any
// text (the general parser then decides), but when it takes one, the general parser must
// take it too and build the very same value: same types (u64, i64, double), same
// numbers to the bit, same strings, same members in the same order.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_check.hpp"
#include "protocol/wire_json.hpp"

namespace {

using vesk::Json;

bool same_double(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Deep, type-exact equality (Json's own == takes 1 and 1.0 as equal). Iterative: values
// are up to hundreds of levels deep.
bool identical(const Json& first, const Json& second) {
  std::vector<std::pair<const Json*, const Json*>> pending{{&first, &second}};
  while (!pending.empty()) {
    const auto [a, b] = pending.back();
    pending.pop_back();
    if (a->type() != b->type()) return false;
    switch (a->type()) {
      case Json::value_t::object: {
        if (a->size() != b->size()) return false;
        for (auto ia = a->begin(), ib = b->begin(); ia != a->end(); ++ia, ++ib) {
          if (ia.key() != ib.key()) return false;
          pending.emplace_back(&*ia, &*ib);
        }
        break;
      }
      case Json::value_t::array:
        if (a->size() != b->size()) return false;
        for (std::size_t i = 0; i < a->size(); ++i) pending.emplace_back(&(*a)[i], &(*b)[i]);
        break;
      case Json::value_t::number_float:
        if (!same_double(a->get<double>(), b->get<double>())) return false;
        break;
      default:
        if (*a != *b) return false;
        break;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto fast = vesk::parse_json_fast(text);
  if (!fast) return 0;
  const auto general = vesk::parse_json(text);
  vesk::fuzz::require(general.has_value(), "the general parser refuses a text the fast reader took",
                      general ? "" : general.error().text());
  vesk::fuzz::require(identical(*fast, *general), "the fast reader and the general parser built different values",
                      fast->dump(-1, ' ', false, Json::error_handler_t::replace) + "\n" +
                          general->dump(-1, ' ', false, Json::error_handler_t::replace));
  return 0;
}
