#pragma once
// Small helpers for the broker's log lines.

#include <string>

#include "protocol/message.hpp"

namespace vesk {

// The message's method, or "unknown" when it has none.
inline std::string method_or_unknown(const Message& message) {
  return message.method.value_or("unknown");
}

}  // namespace vesk
