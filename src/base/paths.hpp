#pragma once
// Where vesk keeps its state between invocations: one per-user data directory holding
// "state.json", "server-start.lock" and "browser-profiles".

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "base/error.hpp"

namespace vesk {

struct AppPaths {
  std::filesystem::path data_dir;
  std::filesystem::path state_path;  // data_dir / "state.json"
};

// Looks up an environment variable; nullopt when it is not set (set-but-empty is "").
using EnvLookup = std::function<std::optional<std::string>(const char* name)>;
std::optional<std::string> process_env(const char* name);

// LOCALAPPDATA/VeskApp, else HOME/.veskapp, else USERPROFILE/.veskapp; otherwise the
// error "cannot resolve home directory". Reads only the environment; creates nothing.
Result<AppPaths> resolve_app_paths(const EnvLookup& env = process_env);

}  // namespace vesk
