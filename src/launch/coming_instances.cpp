#include "launch/coming_instances.hpp"

#include "launch/recorded_process.hpp"

namespace vesk {

namespace {

bool younger_than(const std::string& timestamp, std::chrono::seconds bound, std::chrono::system_clock::time_point now) {
  const auto at = parse_utc_timestamp(timestamp);
  return at && now < *at + bound;
}

}  // namespace

std::optional<ComingInstance> coming_instance(const InstanceRecord& instance, const State& state,
                                              std::chrono::system_clock::time_point now) {
  if (instance.status == InstanceStatus::Stopped) return std::nullopt;
  // Recorded just before its process is spawned: no pid yet means not spawned yet.
  const bool alive = !instance.pid || is_recorded_process(recorded_process_of(instance));
  if (!alive) return std::nullopt;
  if (younger_than(instance.created_at, kStartupBound, now)) return ComingInstance{instance.id, "starting"};
  if (instance.pid && state.server && younger_than(state.server->started_at, kReconnectBound, now)) {
    return ComingInstance{instance.id, "reconnecting after a server restart"};
  }
  return std::nullopt;
}

std::optional<ComingInstance> first_coming_instance(const State& state, std::chrono::system_clock::time_point now) {
  for (const auto& instance : state.instances) {
    if (auto coming = coming_instance(instance, state, now)) return coming;
  }
  return std::nullopt;
}

}  // namespace vesk
