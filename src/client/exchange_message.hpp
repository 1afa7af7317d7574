#pragma once
// One request and its answer on one fresh connection to the broker.

#include <chrono>
#include <string>

#include "base/error.hpp"
#include "base/json.hpp"
#include "platform/socket.hpp"
#include "protocol/message.hpp"

namespace vesk {

inline constexpr std::chrono::seconds kConnectRetryWindow{5};
inline constexpr std::chrono::milliseconds kConnectAttemptTimeout{500};
inline constexpr std::chrono::milliseconds kConnectRetryPause{100};
// The write time-out; reads wait as long as client_answer_wait says.
inline constexpr std::chrono::seconds kClientIoTimeout{30};

// Connects to the numeric endpoint (retrying for 5 s), writes a request with a fresh
// "cli_" id and reads exactly one message back, whatever its kind.
Result<Message> exchange_message(const std::string& endpoint, const std::string& method, const Json& params);
// The same on a connection to `endpoint` that is already open.
Result<Message> exchange_message_on(UniqueSocket fd, const std::string& endpoint, const std::string& method,
                                    const Json& params);

}  // namespace vesk
