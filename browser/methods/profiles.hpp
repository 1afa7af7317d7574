#pragma once
// Browser profiles: Chromium user data directories under the data directory's
// "browser-profiles" folder, one per profile id. "profile.list", "profile.create" and
// "profile.delete" work on those folders; "profile.open" restarts Chromium on another one
// (RunningBrowser does that, with profile_to_open's checks). A profile in use by this
// instance, or by another instance the state file records as running, is never deleted
// or opened a second time.

#include <expected>
#include <filesystem>
#include <string>

#include "base/json.hpp"
#include "browser/core/method_result.hpp"

namespace vesk::browser {

struct ProfilePlace {
  std::filesystem::path root;        // <data dir>/browser-profiles
  std::filesystem::path state_path;  // <data dir>/state.json
  std::string current;               // the profile this instance runs now
  std::string instance_id;           // this instance
};

// Where the profiles of an instance started on `user_data_dir` for `profile_id` live: the
// folder that holds its own profile folder (the data directory's "browser-profiles").
ProfilePlace profile_place(const std::filesystem::path& user_data_dir, const std::string& profile_id,
                           const std::string& instance_id);

MethodResult list_profiles(const ProfilePlace& place);
MethodResult create_profile(const ProfilePlace& place, const Json& params);
MethodResult delete_profile(const ProfilePlace& place, const Json& params);

// The folder of the profile params["id"] names, after checking that it exists and that no
// other running instance uses it.
std::expected<std::filesystem::path, MethodError> profile_to_open(const ProfilePlace& place, const Json& params);

}  // namespace vesk::browser
