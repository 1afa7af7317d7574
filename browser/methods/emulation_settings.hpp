#pragma once
// What `vesk set ...` ("emulation.set") changes about a tab, and the words that change it.
// The settings are per tab and hold across its navigations; every answer shows the
// settings in effect. This file is the pure part: reading the words into settings and
// writing settings as JSON. Pushing them to Chromium is emulation.cpp's.
//
// Words (after "set"):
//   (none)                                   show the settings
//   viewport WxH[xDPR] [--mobile] [--touch] [--landscape]
//   device NAME | device list
//   ua TEXT
//   geo LAT LON [ACCURACY]
//   timezone ZONE            locale TAG
//   color-scheme dark|light|no-preference    reduced-motion reduce|no-preference
//   media print|screen       offline on|off  network slow-3g|fast-3g|off
//   cpu RATE                 headers ["Name: value"...]   (none: no extra headers)
//   reset

#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/json.hpp"

namespace vesk::browser {

struct Viewport {
  int width = 0;
  int height = 0;
  double scale = 1;  // device pixel ratio
  bool mobile = false;
  bool touch = false;
  bool landscape = false;
};

struct Geolocation {
  double latitude = 0;
  double longitude = 0;
  double accuracy = 100;  // metres
};

// Each group is pushed to Chromium as a whole (one or two DevTools calls).
enum class EmulationGroup { Viewport, UserAgent, Geolocation, Timezone, Locale, Media, Network, Cpu, Headers };

struct EmulationSettings {
  std::optional<Viewport> viewport;
  std::optional<std::string> device;  // the device the viewport and user agent came from
  std::optional<std::string> user_agent;
  std::optional<Geolocation> geolocation;
  std::optional<std::string> timezone;
  std::optional<std::string> locale;
  std::optional<std::string> color_scheme;
  std::optional<std::string> reduced_motion;
  std::optional<std::string> media;
  bool offline = false;
  std::optional<std::string> network;  // throttling profile: "slow-3g", "fast-3g"
  double cpu_rate = 1;
  std::vector<std::pair<std::string, std::string>> headers;
};

// What a "set" line asks for.
struct ShowSettings {};
struct ListDevices {};
struct ChangeSettings {
  EmulationSettings settings;          // the settings after the change
  std::vector<EmulationGroup> groups;  // what to push to Chromium
};
using EmulationRequest = std::variant<ShowSettings, ListDevices, ChangeSettings>;

// Reads the words against the tab's current settings. The error text names the bad word
// and lists the accepted forms.
std::expected<EmulationRequest, std::string> read_emulation_words(const std::vector<std::string>& words,
                                                                  const EmulationSettings& current);

// The settings as the answer shows them: only what differs from the browser's defaults.
Json settings_json(const EmulationSettings& settings);

// Download and upload bytes per second and latency of a throttling profile.
struct NetworkProfile {
  double latency_ms = 0;
  double download = -1;
  double upload = -1;
};
std::optional<NetworkProfile> network_profile(const std::string& name);

}  // namespace vesk::browser
