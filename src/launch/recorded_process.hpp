#pragma once
// Whether a pid taken from the state file still names the process that was recorded.
// Records outlive processes and even reboots; by the time someone stops an instance or
// the server, its pid may belong to an unrelated program, which must never be killed.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/process.hpp"
#include "store/state.hpp"

namespace vesk {

// How much later than its record's time stamp a recorded process may have started: the
// browser is spawned just after its record's "createdAt" is taken; start times have
// clock-tick resolution; the wall clock may have been nudged in between.
inline constexpr std::chrono::seconds kRecordedStartSlack{5};

struct RecordedProcess {
  Pid pid = 0;
  // The record's time stamp ("createdAt" of an instance, "startedAt" of the server).
  std::string recorded_at;
  // The executable the process was started from, when the record tells (resolved).
  std::optional<std::filesystem::path> executable;
};

// True when the pid is alive and either started no later than the record's time stamp
// plus the slack, or runs the recorded executable. A time stamp that does not parse
// leaves only the executable check; with neither, the process cannot be recognised and
// counts as gone. Our own pid is never the recorded process.
bool is_recorded_process(const RecordedProcess& recorded);

// An instance record's process as recorded: its pid, its "createdAt", and its browser
// executable when the record names one.
RecordedProcess recorded_process_of(const InstanceRecord& instance);

// Parses the state file's RFC 3339 UTC time stamps ("2025-03-01T09:15:02.1234567Z").
std::optional<std::chrono::system_clock::time_point> parse_utc_timestamp(std::string_view text);

// The file a browser executable of a record refers to: bare names are looked up like a
// process start looks them up.
std::optional<std::filesystem::path> resolve_executable(std::string_view program);

}  // namespace vesk
