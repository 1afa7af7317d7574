#pragma once
// Finding the broker server, and starting one in the background when none answers.
// The server record in the state file is the only source of truth: it is checked with a
// short connect, cleared when nothing answers, and a new server is started under the
// start lock so that concurrent commands start exactly one.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "base/error.hpp"
#include "base/paths.hpp"
#include "platform/process.hpp"
#include "platform/socket.hpp"
#include "store/state.hpp"

namespace vesk {

inline constexpr std::chrono::milliseconds kReachabilityTimeout{250};
inline constexpr std::chrono::seconds kServerReadyWait{5};
inline constexpr std::chrono::milliseconds kServerReadyPoll{100};

// Whether a TCP connection to the numeric endpoint succeeds within 250 ms. Nothing is
// sent; the connection is closed at once. Host names are never reachable.
bool endpoint_is_reachable(const std::string& endpoint);

// The recorded server's endpoint when it accepts a connection; none when there is no
// record or it does not answer, in which case the record is removed from the state.
Result<std::optional<std::string>> probe_server(const std::filesystem::path& state_path);

// probe_server on a state already loaded; when the record is cleared from the file, it is
// cleared from `state` too.
Result<std::optional<std::string>> probe_recorded_server(const std::filesystem::path& state_path, State& state);

// A connection to the recorded server when it accepts one within 250 ms: a command's
// usual case, served with one read of the state and one connect. Nothing is changed when
// there is no such server; ensure_server deals with that (and with an unreadable state).
struct ServerConnection {
  std::string endpoint;
  UniqueSocket socket;
};
std::optional<ServerConnection> connect_recorded_server(const std::filesystem::path& state_path);

// The endpoint of a reachable server, starting "<this executable> server --port 0" in
// the background when there is none.
Result<std::string> ensure_server(const AppPaths& paths);

// Polls the state every 100 ms for 5 s (counted from `started`, when the child was
// started) until a recorded server answers; any answering server is accepted, the
// child's pid only chooses the log line.
Result<std::string> wait_for_server_record(const std::filesystem::path& state_path, Pid child,
                                           std::chrono::steady_clock::time_point started);

// Starts this executable detached with `args`, logging what it starts; the error reads
// "failed to start background VeskApp server".
Result<Pid> start_background_server(const std::vector<std::string>& args);

}  // namespace vesk
