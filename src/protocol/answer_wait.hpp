#pragma once
// How long the broker waits for a browser's answer to one request: a download that waits
// for its file may take up to an hour, anything else 30 s. The client reads the broker's
// answer for a little longer than the broker waits, so that a slow success is never
// reported as a failure and a broker time-out reaches the client as the broker's answer.

#include <chrono>
#include <string_view>

#include "base/json.hpp"

namespace vesk {

inline constexpr std::chrono::seconds kAnswerWait{30};
inline constexpr std::chrono::seconds kLongAnswerWait{3600};
// What the client adds to the broker's wait: the broker's own work around the browser's.
inline constexpr std::chrono::seconds kAnswerWaitMargin{10};

// A "download" whose params.options.wait is JSON true.
bool waits_long_for_answer(std::string_view method, const Json& params);

// How long a client waits for the broker's answer to this request.
std::chrono::seconds client_answer_wait(std::string_view method, const Json& params);

}  // namespace vesk
