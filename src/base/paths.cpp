#include "base/paths.hpp"

#include <cstdlib>

namespace vesk {

std::optional<std::string> process_env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

Result<AppPaths> resolve_app_paths(const EnvLookup& env) {
  std::filesystem::path data_dir;
  if (auto local = env("LOCALAPPDATA")) {
    data_dir = std::filesystem::path(*local) / "VeskApp";
  } else if (auto home = env("HOME")) {
    data_dir = std::filesystem::path(*home) / ".veskapp";
  } else if (auto profile = env("USERPROFILE")) {
    data_dir = std::filesystem::path(*profile) / ".veskapp";
  } else {
    return fail("cannot resolve home directory");
  }
  return AppPaths{data_dir, data_dir / "state.json"};
}

}  // namespace vesk
