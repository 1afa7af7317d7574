#pragma once
// Small helpers for the broker's log lines.

#include <string>

#include "protocol/relayed_message.hpp"

namespace vesk {

// The message's method, or "unknown" when it has none.
inline std::string method_or_unknown(const Message& message) {
  return message.method.value_or("unknown");
}
inline std::string method_or_unknown(const RelayedMessage& message) { return method_or_unknown(message.header); }

}  // namespace vesk
