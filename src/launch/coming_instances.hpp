#pragma once
// Instances that are not connected to the server yet but are on their way: a browser that
// is starting (its record is younger than the start-up bound, and its process, once
// spawned, is alive), or a live browser coming back after a server restart (the server
// is younger than the time a browser keeps reconnecting). A request that finds no
// browser waits for these instead of replacing them: replacing a starting instance
// would leave two browsers from one start, and replacing a reconnecting one would throw
// away a healthy browser with its tabs.

#include <chrono>
#include <optional>
#include <string>

#include "store/state.hpp"

namespace vesk {

// How long after its record a starting browser may take to say hello.
inline constexpr std::chrono::seconds kStartupBound{15};
// How long after a server started a live browser may take to find it and say hello.
inline constexpr std::chrono::seconds kReconnectBound{15};

struct ComingInstance {
  std::string id;
  std::string why;  // "starting" or "reconnecting after a server restart"
};

// Whether this record's browser is on its way at `now`.
std::optional<ComingInstance> coming_instance(const InstanceRecord& instance, const State& state,
                                              std::chrono::system_clock::time_point now);
// The first record of the state whose browser is on its way.
std::optional<ComingInstance> first_coming_instance(const State& state, std::chrono::system_clock::time_point now);

}  // namespace vesk
