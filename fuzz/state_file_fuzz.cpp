// The state file's text form: any bytes load or fail with an error, never crash; a text
// that loads is saved as a text that loads to the same records and is saved the same.

#include <cstdint>
#include <string_view>

#include "fuzz_check.hpp"
#include "store/state.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using vesk::fuzz::require;
  const auto state = vesk::parse_state(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!state) {
    require(!state.error().text().empty(), "a refused state file has no error text");
    return 0;
  }
  const auto text = vesk::state_text(*state);
  if (!text) return 0;  // only a browserBinary of invalid UTF-8, which parse_state refuses
  const auto reloaded = vesk::parse_state(*text);
  require(reloaded.has_value(), "a saved state does not load", *text);
  const auto resaved = vesk::state_text(*reloaded);
  require(resaved.has_value() && *resaved == *text, "a state changes through save and load", *text);
  return 0;
}
