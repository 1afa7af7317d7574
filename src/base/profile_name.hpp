#pragma once
// A browser profile is a folder under the data directory's "browser-profiles", named by
// the profile's id. Ids come from the wire and the command line, so before one is joined
// to a path it must be a single, ordinary path segment: nothing that climbs out of
// "browser-profiles" or names a deeper folder, and nothing Windows cannot create as a
// folder (the same data directory layout is used there).

#include <string_view>

#include "base/error.hpp"

namespace vesk {

// Longest id accepted, in bytes: well inside every file system's name limit.
inline constexpr std::size_t kMaxProfileNameBytes = 100;

// Success, or an error that names the id and says what is wrong with it and what is
// accepted.
Status check_profile_name(std::string_view name);

}  // namespace vesk
