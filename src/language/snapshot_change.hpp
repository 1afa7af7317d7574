#pragma once
// Snapshots around an action: the baseline taken before it, the after-snapshot polled
// until the page differs from the baseline, and the merge of that snapshot into the
// action's result.

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "base/json.hpp"
#include "language/requests.hpp"

namespace vesk {

// The snapshot payload of a "page.snapshot" result: its "snapshot" member when it has
// one, otherwise the value itself.
const Json& snapshot_payload(const Json& value);

}  // namespace vesk

namespace vesk::cli {

// Deep equality where numbers count as equal only when of the same kind (both unsigned,
// both negative integers, or both floats) and equal in value: 1 and 1.0 differ. The JSON
// library's own == compares across kinds, which would hide a change from 1 to 1.0.
bool same_json(const Json& a, const Json& b);

// The snapshot payload before an action, or nullopt when the request failed (a failed
// baseline is not an error: the action goes ahead without one).
std::optional<Json> baseline_snapshot(const RequestSender& send, const std::optional<std::string>& tab);

// The clock and sleep used while polling; real ones by default, fake ones in tests.
struct PollClock {
  std::function<std::chrono::steady_clock::time_point()> now = [] {
    return std::chrono::steady_clock::now();
  };
  std::function<void(std::chrono::milliseconds)> sleep;  // empty: sleep for real
};

inline constexpr std::chrono::milliseconds kSnapshotPollInterval{100};
inline constexpr std::chrono::seconds kSnapshotPollDeadline{2};

// Requests diff snapshots every 100 ms until one differs from the baseline or 2 s have
// passed, and returns the last result. Without a baseline, the first result is returned.
Result<Json> await_snapshot_change(const RequestSender& send, const std::optional<std::string>& tab,
                                   const std::string& source, const std::optional<Json>& baseline,
                                   const PollClock& clock = {});

// Sets the result's "snapshot" member to the snapshot payload of `snapshot_result`; a
// result that is not an object is left as it is.
void merge_snapshot(Json& result, const Json& snapshot_result);

}  // namespace vesk::cli
