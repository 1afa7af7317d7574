#include "language/snapshot_change.hpp"

#include <thread>


namespace vesk {

const Json& snapshot_payload(const Json& value) {
  if (value.is_object()) {
    const auto it = value.find("snapshot");
    if (it != value.end()) return *it;
  }
  return value;
}

}  // namespace vesk

namespace vesk::cli {

namespace {

enum class NumberKind { Unsigned, Negative, Float };

NumberKind number_kind(const Json& number) {
  if (number.is_number_float()) return NumberKind::Float;
  if (number.is_number_unsigned()) return NumberKind::Unsigned;
  // Values built in code may hold non-negative numbers as signed: they are unsigned ones.
  return number.get<std::int64_t>() < 0 ? NumberKind::Negative : NumberKind::Unsigned;
}

bool same_number(const Json& a, const Json& b) {
  const NumberKind kind = number_kind(a);
  if (kind != number_kind(b)) return false;
  switch (kind) {
    case NumberKind::Float: return a.get<double>() == b.get<double>();
    case NumberKind::Unsigned: return a.get<std::uint64_t>() == b.get<std::uint64_t>();
    case NumberKind::Negative: return a.get<std::int64_t>() == b.get<std::int64_t>();
  }
  return false;
}

}  // namespace

bool same_json(const Json& a, const Json& b) {
  if (a.is_number() && b.is_number()) return same_number(a, b);
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case Json::value_t::array: {
      if (a.size() != b.size()) return false;
      for (size_t i = 0; i < a.size(); ++i) {
        if (!same_json(a[i], b[i])) return false;
      }
      return true;
    }
    case Json::value_t::object: {
      if (a.size() != b.size()) return false;
      // Both sides iterate in key order, so equal objects pair up member by member.
      auto left = a.begin();
      auto right = b.begin();
      for (; left != a.end(); ++left, ++right) {
        if (left.key() != right.key() || !same_json(left.value(), right.value())) return false;
      }
      return true;
    }
    default:
      return a == b;
  }
}

std::optional<Json> baseline_snapshot(const RequestSender& send, const std::optional<std::string>& tab) {
  auto result = send("page.snapshot", snapshot_params(tab, false, "page.snapshot"));
  if (!result) return std::nullopt;
  return snapshot_payload(*result);
}

Result<Json> await_snapshot_change(const RequestSender& send, const std::optional<std::string>& tab,
                                   const std::string& source, const std::optional<Json>& baseline,
                                   const PollClock& clock) {
  const auto deadline = clock.now() + kSnapshotPollDeadline;
  const Json params = snapshot_params(tab, true, source);
  for (;;) {
    auto result = send("page.snapshot", params);
    if (!result) return result;
    if (!baseline || !same_json(snapshot_payload(*result), *baseline)) return result;
    if (clock.now() >= deadline) return result;
    if (clock.sleep) {
      clock.sleep(kSnapshotPollInterval);
    } else {
      std::this_thread::sleep_for(kSnapshotPollInterval);
    }
  }
}

void merge_snapshot(Json& result, const Json& snapshot_result) {
  if (!result.is_object()) return;
  result["snapshot"] = snapshot_payload(snapshot_result);
}

}  // namespace vesk::cli
