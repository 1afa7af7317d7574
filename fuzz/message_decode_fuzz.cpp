// Message decoding from any JSON value: decode_message and decode_message_taking agree
// (same message or same error), a failed taking decode leaves the value untouched, and
// a decoded message survives encode, parse and decode unchanged.

#include <cstdint>
#include <string_view>

#include "fuzz_check.hpp"
#include "protocol/message.hpp"
#include "protocol/wire_json.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using vesk::fuzz::require;
  auto value = vesk::parse_wire_json(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!value) return 0;

  const auto copied = vesk::decode_message(*value);
  vesk::Json taken_from = *value;
  const auto taken = vesk::decode_message_taking(taken_from);
  require(copied.has_value() == taken.has_value(), "decode_message and decode_message_taking disagree");
  if (!copied) {
    require(copied.error().text() == taken.error().text(), "the two decodes fail differently",
            copied.error().text() + "\n" + taken.error().text());
    require(taken_from == *value, "a failed decode_message_taking changed its value");
    return 0;
  }
  const std::string encoded = vesk::encode_message(*copied);
  require(encoded == vesk::encode_message(*taken), "the two decodes give different messages");

  auto reparsed = vesk::parse_wire_json(encoded);
  require(reparsed.has_value(), "an encoded message is not valid JSON", encoded);
  auto again = vesk::decode_message(*reparsed);
  require(again.has_value(), "an encoded message does not decode", encoded);
  require(vesk::encode_message(*again) == encoded, "a message changes through encode and decode", encoded);
  return 0;
}
