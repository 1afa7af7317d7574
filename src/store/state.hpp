#pragma once
// The state file, "state.json" in the data directory: the broker's endpoint, the browser
// profiles and the launched instances. Loaded whole right before a change and saved whole
// right after; never cached. The text form is fixed (member order of each record,
// two-space indentation, no newline after the closing brace, only the escapes JSON
// requires) because users and other tools read it.

#include <chrono>
#include <cstdint>
#include <functional>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"
#include "base/json.hpp"
#include "base/timestamp.hpp"

namespace vesk {

enum class BrowserMode { Headless, Headed };          // "headless", "headed"
enum class InstanceStatus { Starting, Running, Stopped };  // "starting", "running", "stopped"

struct ServerRecord {
  std::string host;
  std::uint16_t port = 0;
  std::uint32_t pid = 0;
  std::string started_at;  // "startedAt"
};

struct ProfileRecord {
  std::string id;
  std::string name;
  std::string path;
  std::string created_at;                   // "createdAt"
  std::optional<std::string> last_used_at;  // "lastUsedAt", null when absent
};

struct InstanceRecord {
  std::string id;
  std::string profile_id;  // "profileId"
  BrowserMode mode = BrowserMode::Headless;
  std::optional<std::string> browser_binary;  // "browserBinary", omitted when absent
  std::optional<std::uint32_t> pid;           // null when absent
  std::string host;
  std::uint16_t port = 0;
  std::string token;
  InstanceStatus status = InstanceStatus::Starting;
  std::string created_at;  // "createdAt"
};

struct State {
  std::uint32_t version = 1;
  std::optional<ServerRecord> server;
  std::vector<ProfileRecord> profiles;
  std::vector<InstanceRecord> instances;
};

// A state file larger than this is refused at once: a few thousand records take well
// under a megabyte, and loading runs before every command.
inline constexpr std::uintmax_t kMaxStateFileBytes = 16 * 1024 * 1024;

// A missing file gives the default State (and a DEBUG line); anything unreadable or
// unparsable is an error carrying the parser's message, a file past the size bound an
// error that says how to move it aside.
Result<State> load_state(const std::filesystem::path& state_path);
// Writes the whole file atomically (temporary file beside it, flushed, renamed over).
// The data directory is created user-only and the file is user-only.
Status save_state(const std::filesystem::path& state_path, const State& state);

// Every read-change-save of the file runs under an exclusive lock on "state.lock" beside
// it, so that commands, the server's connection threads and launches running at once
// never lose one another's changes. Loading alone needs no lock: saves replace the file
// by a rename, so a reader sees the old or the new text, never a mix.
inline constexpr std::chrono::seconds kStateLockWait{30};
std::filesystem::path state_lock_path(const std::filesystem::path& state_path);

// Loads the state under the lock and lets `change` edit it; saves when `change` answers
// true. An error from `change` is returned with nothing saved. `change` should be quick:
// every other change of the state waits for it.
using StateChange = std::function<Result<bool>(State&)>;
Status update_state(const std::filesystem::path& state_path, const StateChange& change);

// The file's text form, without touching the file system. parse_state checks UTF-8 and
// the schema; state_text fails only on a browserBinary that is not valid UTF-8.
Result<State> parse_state(std::string_view text);
Result<std::string> state_text(const State& state);
// Where save_state, called from this thread, writes before renaming over state.json.
std::filesystem::path temporary_state_path(const std::filesystem::path& state_path);

// The records as JSON values for printing (members sorted, as printed output is).
Json to_json(const ServerRecord& server);
Json to_json(const InstanceRecord& instance);

std::string_view mode_name(BrowserMode mode);        // "headless" / "headed"
std::string_view status_name(InstanceStatus status);  // "starting" / "running" / "stopped"

}  // namespace vesk
