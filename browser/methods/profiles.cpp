#include "browser/methods/profiles.hpp"

#include <algorithm>
#include <optional>

#include "base/profile_name.hpp"
#include "base/timestamp.hpp"
#include "platform/process.hpp"
#include "store/state.hpp"

namespace vesk::browser {

namespace fs = std::filesystem;

namespace {

// params[key] as a checked profile name.
std::expected<std::string, MethodError> profile_name(const Json& params, const char* key) {
  const auto it = params.find(key);
  if (it == params.end() || !it->is_string()) {
    return invalid_argument(std::string("the profile command needs \"") + key + "\": the profile's name");
  }
  const std::string name = it->get<std::string>();
  if (auto checked = check_profile_name(name); !checked) return invalid_argument(checked.error().text());
  return name;
}

// The instance, other than this one, that the state file records as running on `id`.
std::optional<InstanceRecord> other_instance_on(const ProfilePlace& place, const std::string& id) {
  auto state = load_state(place.state_path);
  if (!state) return std::nullopt;
  for (const auto& instance : state->instances) {
    if (instance.profile_id != id || instance.id == place.instance_id) continue;
    if (instance.status == InstanceStatus::Stopped || !instance.pid || !process_is_alive(*instance.pid)) continue;
    return instance;
  }
  return std::nullopt;
}

std::unexpected<MethodError> in_use(const std::string& id, const std::string& by, const std::string& doing) {
  return method_error("profileInUse", "profile \"" + id + "\" is in use by " + by + "; cannot " + doing +
                                          " it (stop that instance with `vesk instance stop ID` first)");
}

std::string last_used(const fs::path& folder) {
  std::error_code ec;
  // Chromium rewrites "Local State" while it runs and when it exits.
  auto time = fs::last_write_time(folder / "Local State", ec);
  if (ec) time = fs::last_write_time(folder, ec);
  if (ec) return {};
  const auto system = std::chrono::file_clock::to_sys(time);
  return format_timestamp(std::chrono::time_point_cast<std::chrono::system_clock::duration>(system));
}

std::uintmax_t size_on_disk(const fs::path& folder) {
  std::uintmax_t total = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
       !ec && it != end; it.increment(ec)) {
    std::error_code size_error;
    if (it->is_regular_file(size_error)) {
      const auto size = it->file_size(size_error);
      if (!size_error) total += size;
    }
  }
  return total;
}

}  // namespace

ProfilePlace profile_place(const fs::path& user_data_dir, const std::string& profile_id,
                           const std::string& instance_id) {
  ProfilePlace place;
  fs::path root = fs::absolute(user_data_dir).lexically_normal();
  if (root.has_filename() == false) root = root.parent_path();
  // An id with separators (started by hand) makes a deeper folder: climb once per segment.
  for (const auto& segment : fs::path(profile_id)) {
    if (!segment.empty()) root = root.parent_path();
  }
  place.root = root;
  place.state_path = root.parent_path() / "state.json";
  place.current = profile_id;
  place.instance_id = instance_id;
  return place;
}

MethodResult list_profiles(const ProfilePlace& place) {
  Json profiles = Json::array();
  std::error_code ec;
  std::vector<fs::path> folders;
  for (fs::directory_iterator it(place.root, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code type_error;
    if (it->is_directory(type_error)) folders.push_back(it->path());
  }
  std::sort(folders.begin(), folders.end());
  auto state = load_state(place.state_path);
  for (const auto& folder : folders) {
    const std::string id = folder.filename().string();
    // This instance runs its current profile, whatever its record says (a switch does not
    // change the record).
    Json users = Json::array();
    if (id == place.current) users.push_back(place.instance_id);
    if (state) {
      for (const auto& instance : state->instances) {
        if (instance.id == place.instance_id || instance.profile_id != id) continue;
        if (instance.status != InstanceStatus::Stopped && instance.pid && process_is_alive(*instance.pid)) {
          users.push_back(instance.id);
        }
      }
    }
    Json entry = {{"id", id},
                  {"path", folder.string()},
                  {"sizeBytes", size_on_disk(folder)},
                  {"lastUsed", last_used(folder)},
                  {"current", id == place.current},
                  {"usedBy", users}};
    profiles.push_back(std::move(entry));
  }
  return Json{{"profiles", profiles}, {"current", place.current}, {"root", place.root.string()}};
}

MethodResult create_profile(const ProfilePlace& place, const Json& params) {
  auto name = profile_name(params, "name");
  if (!name) return std::unexpected(name.error());
  const fs::path folder = place.root / *name;
  std::error_code ec;
  fs::create_directories(place.root, ec);
  if (fs::exists(folder, ec)) {
    return method_error("profileExists", "profile \"" + *name + "\" already exists (" + folder.string() +
                                             "); choose another name, or open it with `vesk profile open " + *name + "`");
  }
  if (!fs::create_directory(folder, ec) || ec) {
    return method_error("actionFailed", "failed to create profile folder " + folder.string() + ": " +
                                            (ec ? ec.message() : std::string("it appeared meanwhile")));
  }
  fs::permissions(folder, fs::perms::owner_all, ec);
  return Json{{"created", *name}, {"path", folder.string()}};
}

MethodResult delete_profile(const ProfilePlace& place, const Json& params) {
  auto id = profile_name(params, "id");
  if (!id) return std::unexpected(id.error());
  const fs::path folder = place.root / *id;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    return method_error("profileNotFound", "no profile \"" + *id + "\" in " + place.root.string() +
                                               "; `vesk profile list` shows the profiles");
  }
  if (*id == place.current) return in_use(*id, "this instance (" + place.instance_id + ")", "delete");
  if (auto other = other_instance_on(place, *id)) {
    return in_use(*id, "instance " + other->id + " (pid " + std::to_string(*other->pid) + ")", "delete");
  }
  fs::remove_all(folder, ec);
  if (ec) return method_error("actionFailed", "failed to delete profile folder " + folder.string() + ": " + ec.message());
  return Json{{"deleted", *id}, {"path", folder.string()}};
}

std::expected<fs::path, MethodError> profile_to_open(const ProfilePlace& place, const Json& params) {
  auto id = profile_name(params, "id");
  if (!id) return std::unexpected(id.error());
  const fs::path folder = place.root / *id;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    return method_error("profileNotFound", "no profile \"" + *id + "\" in " + place.root.string() +
                                               "; create it with `vesk profile create " + *id + "`");
  }
  if (auto other = other_instance_on(place, *id)) {
    return in_use(*id, "instance " + other->id + " (pid " + std::to_string(*other->pid) + ")", "open");
  }
  return folder;
}

}  // namespace vesk::browser
