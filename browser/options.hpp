#pragma once
// The browser command line that `vesk instance start` builds:
//   --vesk-host=H --vesk-port=N --vesk-token=T --vesk-instance-id=I --vesk-profile-id=P
//   --user-data-dir=D (--headed | --headless=new)
// Unknown arguments are refused so that a typo never goes unnoticed.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/error.hpp"

namespace vesk::browser {

struct BrowserOptions {
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;
  std::string token;
  std::string instance_id;
  std::string profile_id = "default";
  std::filesystem::path user_data_dir;
  bool headless = true;
};

// Needs --vesk-port and --user-data-dir; everything else has a default.
Result<BrowserOptions> parse_browser_options(const std::vector<std::string>& args);

}  // namespace vesk::browser
