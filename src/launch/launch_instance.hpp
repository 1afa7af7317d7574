#pragma once
// Launching a browser instance: pick the broker endpoint the browser connects to, give
// the instance an id, a loopback port and a token, record it as starting, start the
// browser detached with its command line, and mark the record running with its pid.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "base/paths.hpp"
#include "store/state.hpp"

namespace vesk {

struct LaunchOptions {
  std::string profile = "default";
  BrowserMode mode = BrowserMode::Headless;
  std::string browser_binary = "veskbrowser";  // a path or a bare program name
  std::optional<std::string> server_host;
  std::optional<std::uint16_t> server_port;
};

// Records the instance (status starting, no pid), starts the browser and marks the record
// running with its pid. A browser that fails to start takes its record with it.
Result<InstanceRecord> launch_instance(const AppPaths& paths, const LaunchOptions& options);

// The browser's seven arguments, in the order it expects them.
std::vector<std::string> browser_arguments(const std::string& server_host, std::uint16_t server_port,
                                           const InstanceRecord& record,
                                           const std::filesystem::path& user_data_dir);

// data_dir/browser-profiles/<profile id>, by path joining (not created here).
std::filesystem::path browser_profile_dir(const std::filesystem::path& data_dir, const std::string& profile_id);

// A port the system considers free on 127.0.0.1 right now.
Result<std::uint16_t> allocate_loopback_port();

}  // namespace vesk
