#include "browser/options.hpp"

#include <charconv>
#include <optional>

namespace vesk::browser {

namespace {

Result<std::uint16_t> parse_port(std::string_view text) {
  unsigned value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
    return fail("invalid --vesk-port value \"" + std::string(text) +
                "\": expected a port number from 1 to 65535");
  }
  return static_cast<std::uint16_t>(value);
}

}  // namespace

Result<BrowserOptions> parse_browser_options(const std::vector<std::string>& args) {
  BrowserOptions options;
  bool have_port = false;
  for (const std::string& arg : args) {
    auto value_of = [&](std::string_view prefix) -> std::optional<std::string> {
      if (!arg.starts_with(prefix)) return std::nullopt;
      return arg.substr(prefix.size());
    };
    if (auto v = value_of("--vesk-host=")) {
      options.host = *v;
    } else if (auto p = value_of("--vesk-port=")) {
      auto port = parse_port(*p);
      if (!port) return fail(port.error());
      options.port = *port;
      have_port = true;
    } else if (auto t = value_of("--vesk-token=")) {
      options.token = *t;
    } else if (auto i = value_of("--vesk-instance-id=")) {
      options.instance_id = *i;
    } else if (auto pr = value_of("--vesk-profile-id=")) {
      options.profile_id = *pr;
    } else if (auto d = value_of("--user-data-dir=")) {
      options.user_data_dir = *d;
    } else if (arg == "--headed") {
      options.headless = false;
    } else if (arg == "--headless" || arg.starts_with("--headless=")) {
      options.headless = true;
    } else {
      return fail("unknown argument \"" + arg + "\"");
    }
  }
  if (!have_port) return fail("missing --vesk-port=<port of the vesk server>");
  if (options.user_data_dir.empty()) return fail("missing --user-data-dir=<profile directory>");
  if (options.host.empty()) return fail("empty --vesk-host value");
  return options;
}

}  // namespace vesk::browser
