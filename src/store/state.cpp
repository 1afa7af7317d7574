#include "store/state.hpp"

#include <algorithm>
#include <array>
#include <limits>

#include "base/log.hpp"
#include "platform/file_lock.hpp"
#include "platform/files.hpp"

namespace vesk {

namespace {

constexpr std::array<std::pair<BrowserMode, std::string_view>, 2> kModeNames{{
    {BrowserMode::Headless, "headless"},
    {BrowserMode::Headed, "headed"},
}};
constexpr std::array<std::pair<InstanceStatus, std::string_view>, 3> kStatusNames{{
    {InstanceStatus::Starting, "starting"},
    {InstanceStatus::Running, "running"},
    {InstanceStatus::Stopped, "stopped"},
}};

// ---- Reading ---------------------------------------------------------------------------

// Reads the members of one JSON object, naming the record in every error
// ("invalid type for `port` in instances[0]: ...").
class RecordReader {
 public:
  // `where` names the record ("" for the top level); `position` ends missing-member
  // errors (" at line 6 column 1": where the record's closing brace is, when known).
  RecordReader(const Json& object, std::string where, std::string position = "")
      : object_(object), where_(std::move(where)), position_(std::move(position)) {}

  // nullptr when the member is missing.
  const Json* find(const char* name) const {
    const auto it = object_.find(name);
    return it == object_.end() ? nullptr : &*it;
  }

  Result<const Json*> require(const char* name) const {
    const Json* value = find(name);
    if (value == nullptr) return fail("missing field `" + std::string(name) + "`" + suffix() + position_);
    return value;
  }

  Result<std::string> string(const char* name) const {
    auto value = require(name);
    if (!value) return fail(value.error());
    return as_string(name, **value);
  }

  Result<std::optional<std::string>> optional_string(const char* name) const {
    const Json* value = find(name);
    if (value == nullptr || value->is_null()) return std::nullopt;
    auto text = as_string(name, *value);
    if (!text) return fail(text.error());
    return std::optional<std::string>(std::move(*text));
  }

  template <class Unsigned>
  Result<Unsigned> number(const char* name) const {
    auto value = require(name);
    if (!value) return fail(value.error());
    return as_number<Unsigned>(name, **value);
  }

  template <class Unsigned>
  Result<std::optional<Unsigned>> optional_number(const char* name) const {
    const Json* value = find(name);
    if (value == nullptr || value->is_null()) return std::nullopt;
    auto number_value = as_number<Unsigned>(name, *value);
    if (!number_value) return fail(number_value.error());
    return std::optional<Unsigned>(*number_value);
  }

  template <class Enum, std::size_t N>
  Result<Enum> name_of(const char* name, const std::array<std::pair<Enum, std::string_view>, N>& names) const {
    auto text = string(name);
    if (!text) return fail(text.error());
    std::string expected;
    for (const auto& [value, written] : names) {
      if (*text == written) return value;
      expected += (expected.empty() ? "`" : ", `") + std::string(written) + "`";
    }
    return fail("unknown variant `" + *text + "` for `" + name + "`" + suffix() + ", expected one of " + expected);
  }

  [[nodiscard]] std::string invalid(const char* name, std::string_view expected, const Json& found) const {
    return "invalid type for `" + std::string(name) + "`" + suffix() + ": expected " + std::string(expected) +
           ", found " + found.dump(-1, ' ', false, Json::error_handler_t::replace);
  }

 private:
  [[nodiscard]] std::string suffix() const { return where_.empty() ? "" : " in " + where_; }

  Result<std::string> as_string(const char* name, const Json& value) const {
    if (!value.is_string()) return fail(invalid(name, "a string", value));
    return value.get<std::string>();
  }

  template <class Unsigned>
  Result<Unsigned> as_number(const char* name, const Json& value) const {
    const bool fits = (value.is_number_unsigned() && value.get<std::uint64_t>() <= std::numeric_limits<Unsigned>::max()) ||
                      (value.is_number_integer() && value.get<std::int64_t>() == 0);  // "-0"
    if (!fits) {
      return fail(invalid(name, "an unsigned " + std::to_string(std::numeric_limits<Unsigned>::digits) + "-bit integer",
                          value));
    }
    return static_cast<Unsigned>(value.get<std::uint64_t>());
  }

  const Json& object_;
  std::string where_;
  std::string position_;
};

// " at line L column C" of the last byte that is not white space: the closing brace of a
// text that parsed as an object.
std::string closing_position(std::string_view text) {
  const auto last = text.find_last_not_of(" \t\r\n");
  if (last == std::string_view::npos) return "";
  const auto line_start = text.rfind('\n', last);
  const std::size_t line = 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + last, '\n'));
  const std::size_t column = line_start == std::string_view::npos ? last + 1 : last - line_start;
  return " at line " + std::to_string(line) + " column " + std::to_string(column);
}

// Unwraps a Result member into `target`, or returns its error from the enclosing function.
#define VESK_TRY_ASSIGN(target, expression)   \
  do {                                        \
    auto vesk_value_ = (expression);          \
    if (!vesk_value_) return fail(std::move(vesk_value_.error())); \
    (target) = std::move(*vesk_value_);       \
  } while (false)

Result<ServerRecord> read_server(const Json& value) {
  if (!value.is_object()) return fail(RecordReader(Json::object(), "").invalid("server", "an object", value));
  const RecordReader reader(value, "server");
  ServerRecord server;
  VESK_TRY_ASSIGN(server.host, reader.string("host"));
  VESK_TRY_ASSIGN(server.port, reader.number<std::uint16_t>("port"));
  VESK_TRY_ASSIGN(server.pid, reader.number<std::uint32_t>("pid"));
  VESK_TRY_ASSIGN(server.started_at, reader.string("startedAt"));
  return server;
}

Result<ProfileRecord> read_profile(const RecordReader& reader) {
  ProfileRecord profile;
  VESK_TRY_ASSIGN(profile.id, reader.string("id"));
  VESK_TRY_ASSIGN(profile.name, reader.string("name"));
  VESK_TRY_ASSIGN(profile.path, reader.string("path"));
  VESK_TRY_ASSIGN(profile.created_at, reader.string("createdAt"));
  VESK_TRY_ASSIGN(profile.last_used_at, reader.optional_string("lastUsedAt"));
  return profile;
}

Result<InstanceRecord> read_instance(const RecordReader& reader) {
  InstanceRecord instance;
  VESK_TRY_ASSIGN(instance.id, reader.string("id"));
  VESK_TRY_ASSIGN(instance.profile_id, reader.string("profileId"));
  VESK_TRY_ASSIGN(instance.mode, reader.name_of("mode", kModeNames));
  VESK_TRY_ASSIGN(instance.browser_binary, reader.optional_string("browserBinary"));
  VESK_TRY_ASSIGN(instance.pid, reader.optional_number<std::uint32_t>("pid"));
  VESK_TRY_ASSIGN(instance.host, reader.string("host"));
  VESK_TRY_ASSIGN(instance.port, reader.number<std::uint16_t>("port"));
  VESK_TRY_ASSIGN(instance.token, reader.string("token"));
  VESK_TRY_ASSIGN(instance.status, reader.name_of("status", kStatusNames));
  VESK_TRY_ASSIGN(instance.created_at, reader.string("createdAt"));
  return instance;
}

// Reads an array member whose elements are records of one kind.
template <class Record, class ReadRecord>
Result<std::vector<Record>> read_records(const RecordReader& top, const char* name, ReadRecord read_record) {
  auto value = top.require(name);
  if (!value) return fail(value.error());
  if (!(*value)->is_array()) return fail(top.invalid(name, "an array", **value));
  std::vector<Record> records;
  records.reserve((*value)->size());
  for (std::size_t i = 0; i < (*value)->size(); ++i) {
    const Json& element = (**value)[i];
    const std::string where = std::string(name) + "[" + std::to_string(i) + "]";
    if (!element.is_object()) return fail(top.invalid(where.c_str(), "an object", element));
    auto record = read_record(RecordReader(element, where));
    if (!record) return fail(record.error());
    records.push_back(std::move(*record));
  }
  return records;
}

// ---- Writing ---------------------------------------------------------------------------

OrderedJson optional_text(const std::optional<std::string>& text) {
  return text ? OrderedJson(*text) : OrderedJson(nullptr);
}

OrderedJson server_json(const ServerRecord& server) {
  OrderedJson out = OrderedJson::object();
  out["host"] = server.host;
  out["port"] = server.port;
  out["pid"] = server.pid;
  out["startedAt"] = server.started_at;
  return out;
}

OrderedJson profile_json(const ProfileRecord& profile) {
  OrderedJson out = OrderedJson::object();
  out["id"] = profile.id;
  out["name"] = profile.name;
  out["path"] = profile.path;
  out["createdAt"] = profile.created_at;
  out["lastUsedAt"] = optional_text(profile.last_used_at);
  return out;
}

OrderedJson instance_json(const InstanceRecord& instance) {
  OrderedJson out = OrderedJson::object();
  out["id"] = instance.id;
  out["profileId"] = instance.profile_id;
  out["mode"] = mode_name(instance.mode);
  if (instance.browser_binary) out["browserBinary"] = *instance.browser_binary;
  out["pid"] = instance.pid ? OrderedJson(*instance.pid) : OrderedJson(nullptr);
  out["host"] = instance.host;
  out["port"] = instance.port;
  out["token"] = instance.token;
  out["status"] = status_name(instance.status);
  out["createdAt"] = instance.created_at;
  return out;
}

}  // namespace

std::string_view mode_name(BrowserMode mode) {
  for (const auto& [value, name] : kModeNames) {
    if (value == mode) return name;
  }
  return "headless";
}

std::string_view status_name(InstanceStatus status) {
  for (const auto& [value, name] : kStatusNames) {
    if (value == status) return name;
  }
  return "starting";
}

Result<State> parse_state(std::string_view text) {
  if (!is_valid_utf8(text)) return fail("stream did not contain valid UTF-8");
  auto value = parse_json(text);
  if (!value) return fail(value.error());
  if (!value->is_object()) {
    return fail(std::string("invalid type: expected a state object, found ") + value->type_name());
  }

  const RecordReader top(*value, "", closing_position(text));
  State state;
  VESK_TRY_ASSIGN(state.version, top.number<std::uint32_t>("version"));
  if (const Json* server = top.find("server"); server != nullptr && !server->is_null()) {
    VESK_TRY_ASSIGN(state.server, read_server(*server));
  }
  VESK_TRY_ASSIGN(state.profiles, read_records<ProfileRecord>(top, "profiles", read_profile));
  VESK_TRY_ASSIGN(state.instances, read_records<InstanceRecord>(top, "instances", read_instance));
  return state;
}

#undef VESK_TRY_ASSIGN

Result<std::string> state_text(const State& state) {
  for (const auto& instance : state.instances) {
    if (instance.browser_binary && !is_valid_utf8(*instance.browser_binary)) {
      return fail("path contains invalid UTF-8 characters");
    }
  }
  OrderedJson root = OrderedJson::object();
  root["version"] = state.version;
  root["server"] = state.server ? server_json(*state.server) : OrderedJson(nullptr);
  root["profiles"] = OrderedJson::array();
  for (const auto& profile : state.profiles) root["profiles"].push_back(profile_json(profile));
  root["instances"] = OrderedJson::array();
  for (const auto& instance : state.instances) root["instances"].push_back(instance_json(instance));
  // Other strings came from a file that was valid UTF-8 or from this program; replacing
  // rather than throwing keeps a save from ever failing on them.
  return root.dump(2, ' ', false, OrderedJson::error_handler_t::replace);
}

Result<State> load_state(const std::filesystem::path& state_path) {
  std::error_code missing;
  if (!std::filesystem::exists(state_path, missing)) {
    log_debug("state file " + state_path.string() + " does not exist; using defaults");
    return State{};
  }
  log_debug("loading state from " + state_path.string());
  std::error_code unknown;
  const std::uintmax_t size = std::filesystem::file_size(state_path, unknown);
  if (!unknown && size > kMaxStateFileBytes) {
    // Far more than any real use writes; parsing it would stall every command.
    return fail("state file " + state_path.string() + " is " + std::to_string(size) +
                " bytes, more than the " + std::to_string(kMaxStateFileBytes) +
                " bytes a state file may hold; move it aside (mv " + state_path.string() + " " +
                state_path.string() + ".too-large) and run the command again to start from an empty state");
  }
  auto text = read_whole_file(state_path);
  if (!text) return fail(text.error());
  return parse_state(*text);
}

std::filesystem::path temporary_state_path(const std::filesystem::path& state_path) {
  return temporary_path_beside(state_path);
}

Status save_state(const std::filesystem::path& state_path, const State& state) {
  const auto directory = state_path.parent_path();
  if (auto created = create_private_directories(directory); !created) return created;
  log_debug("saving state to " + state_path.string() + " with " + std::to_string(state.profiles.size()) +
            " profiles and " + std::to_string(state.instances.size()) + " instances");
  auto text = state_text(state);
  if (!text) return fail(text.error());

  // Never write state.json in place: a crash or a full disk mid-write would leave a
  // truncated file that every later command fails to load.
  if (auto written = write_file_atomically(state_path, *text); !written) {
    return fail(std::move(written.error()).wrap("failed to write state file " + state_path.string()));
  }
  return {};
}

std::filesystem::path state_lock_path(const std::filesystem::path& state_path) {
  return state_path.parent_path() / "state.lock";
}

Status update_state(const std::filesystem::path& state_path, const StateChange& change) {
  if (auto created = create_private_directories(state_path.parent_path()); !created) return created;
  auto lock = FileLock::acquire(state_lock_path(state_path), kStateLockWait);
  if (!lock) return fail(lock.error());
  auto state = load_state(state_path);
  if (!state) return fail(state.error());
  auto changed = change(*state);
  if (!changed) return fail(changed.error());
  if (!*changed) return {};
  return save_state(state_path, *state);
}

Json to_json(const ServerRecord& server) { return Json(server_json(server)); }

Json to_json(const InstanceRecord& instance) { return Json(instance_json(instance)); }

}  // namespace vesk
