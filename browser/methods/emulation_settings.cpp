#include "browser/methods/emulation_settings.hpp"

#include <charconv>
#include <cmath>

#include "browser/methods/devices.hpp"

namespace vesk::browser {

namespace {

constexpr const char* kForms =
    "set | set viewport WxH[xDPR] [--mobile] [--touch] [--landscape] | set device NAME | set device list | "
    "set ua TEXT | set geo LAT LON [ACCURACY] | set timezone ZONE | set locale TAG | "
    "set color-scheme dark|light|no-preference | set reduced-motion reduce|no-preference | "
    "set media print|screen | set offline on|off | set network slow-3g|fast-3g|off | set cpu RATE | "
    "set headers [\"Name: value\"...] | set reset";

std::unexpected<std::string> bad(const std::string& what) {
  return std::unexpected(what + "; accepted: " + kForms);
}

std::optional<double> number(std::string_view text) {
  double value = 0;
  if (text.empty() || text.front() == '+') return std::nullopt;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<int> whole(std::string_view text) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string joined(const std::vector<std::string>& words, std::size_t from) {
  std::string text;
  for (std::size_t i = from; i < words.size(); ++i) text += (i > from ? " " : "") + words[i];
  return text;
}

// "390x844" or "390x844x3".
std::expected<Viewport, std::string> read_viewport(const std::vector<std::string>& words) {
  const std::string usage = "set viewport WxH[xDPR] [--mobile] [--touch] [--landscape], e.g. 390x844x3";
  if (words.size() < 2) return bad("set viewport needs a size: " + usage);
  Viewport viewport;
  const std::string& size = words[1];
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t x = size.find('x'); ; x = size.find('x', start)) {
    parts.push_back(size.substr(start, x == std::string::npos ? std::string::npos : x - start));
    if (x == std::string::npos) break;
    start = x + 1;
  }
  auto width = parts.size() >= 2 ? whole(parts[0]) : std::nullopt;
  auto height = parts.size() >= 2 ? whole(parts[1]) : std::nullopt;
  auto scale = parts.size() == 3 ? number(parts[2]) : std::optional<double>(1);
  if (parts.size() > 3 || !width || !height || !scale) return bad("\"" + size + "\" is not a viewport size: " + usage);
  if (*width < 1 || *height < 1 || *width > 10000 || *height > 10000) {
    return bad("viewport \"" + size + "\": width and height must be 1 to 10000 pixels");
  }
  if (*scale <= 0 || *scale > 10) return bad("viewport \"" + size + "\": the pixel ratio must be above 0 and at most 10");
  viewport.width = *width;
  viewport.height = *height;
  viewport.scale = *scale;
  for (std::size_t i = 2; i < words.size(); ++i) {
    if (words[i] == "--mobile") viewport.mobile = true;
    else if (words[i] == "--touch") viewport.touch = true;
    else if (words[i] == "--landscape") viewport.landscape = true;
    else return bad("unknown viewport word \"" + words[i] + "\": " + usage);
  }
  if (viewport.landscape && viewport.width < viewport.height) std::swap(viewport.width, viewport.height);
  return viewport;
}

std::expected<Geolocation, std::string> read_geolocation(const std::vector<std::string>& words) {
  const std::string usage = "set geo LAT LON [ACCURACY], e.g. set geo 52.52 13.405 50";
  if (words.size() < 3 || words.size() > 4) return bad("set geo needs a latitude and a longitude: " + usage);
  auto latitude = number(words[1]);
  auto longitude = number(words[2]);
  auto accuracy = words.size() == 4 ? number(words[3]) : std::optional<double>(100);
  if (!latitude || *latitude < -90 || *latitude > 90) return bad("latitude \"" + words[1] + "\" must be a number from -90 to 90: " + usage);
  if (!longitude || *longitude < -180 || *longitude > 180) return bad("longitude \"" + words[2] + "\" must be a number from -180 to 180: " + usage);
  if (!accuracy || *accuracy < 0) return bad("accuracy \"" + words.back() + "\" must be a number of metres, 0 or more: " + usage);
  return Geolocation{*latitude, *longitude, *accuracy};
}

// The single word after the setting, which must be one of `choices`.
std::expected<std::string, std::string> one_of(const std::vector<std::string>& words,
                                               std::initializer_list<const char*> choices) {
  std::string accepted;
  for (const char* choice : choices) accepted += (accepted.empty() ? "" : "|") + std::string(choice);
  if (words.size() == 2) {
    for (const char* choice : choices) {
      if (words[1] == choice) return words[1];
    }
  }
  const std::string given = words.size() < 2 ? std::string("nothing") : "\"" + joined(words, 1) + "\"";
  return bad("set " + words[0] + " takes " + accepted + ", not " + given);
}

// "Name: value" with a token name.
std::expected<std::pair<std::string, std::string>, std::string> read_header(const std::string& word) {
  const auto colon = word.find(':');
  std::string name = colon == std::string::npos ? std::string() : word.substr(0, colon);
  const bool token = !name.empty() && name.find_first_not_of(
      "!#$%&'*+-.^_`|~0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos;
  if (!token) return bad("\"" + word + "\" is not a header: write \"Name: value\"");
  std::string value = word.substr(colon + 1);
  const auto first = value.find_first_not_of(" \t");
  value = first == std::string::npos ? std::string() : value.substr(first);
  if (value.find_first_of("\r\n") != std::string::npos) return bad("header \"" + name + "\" has a line break in its value");
  return std::pair{name, value};
}

void add_group(ChangeSettings& change, EmulationGroup group) { change.groups.push_back(group); }

}  // namespace

std::optional<NetworkProfile> network_profile(const std::string& name) {
  // The figures the DevTools front end uses for its throttling presets.
  if (name == "slow-3g") return NetworkProfile{2000, 50'000, 50'000};
  if (name == "fast-3g") return NetworkProfile{562.5, 180'000, 84'375};
  return std::nullopt;
}

std::expected<EmulationRequest, std::string> read_emulation_words(const std::vector<std::string>& words,
                                                                  const EmulationSettings& current) {
  if (words.empty()) return ShowSettings{};
  const std::string& what = words[0];
  ChangeSettings change{current, {}};
  EmulationSettings& next = change.settings;
  if (what == "reset") {
    if (words.size() > 1) return bad("set reset takes no further words");
    next = EmulationSettings{};
    change.groups = {EmulationGroup::Viewport, EmulationGroup::UserAgent, EmulationGroup::Geolocation,
                     EmulationGroup::Timezone, EmulationGroup::Locale,    EmulationGroup::Media,
                     EmulationGroup::Network,  EmulationGroup::Cpu,       EmulationGroup::Headers};
    return change;
  }
  if (what == "viewport") {
    auto viewport = read_viewport(words);
    if (!viewport) return std::unexpected(viewport.error());
    next.viewport = *viewport;
    next.device.reset();
    add_group(change, EmulationGroup::Viewport);
  } else if (what == "device") {
    if (words.size() == 2 && words[1] == "list") return ListDevices{};
    const std::string name = joined(words, 1);
    auto device = find_device(name);
    if (!device) {
      std::string names;
      for (const Device& known : known_devices()) names += (names.empty() ? "" : ", ") + std::string(known.name);
      return bad((name.empty() ? std::string("set device needs a name") : "unknown device \"" + name + "\"") +
                 " (known: " + names + ")");
    }
    next.viewport = Viewport{device->width, device->height, device->scale, device->mobile, device->touch, false};
    next.user_agent = std::string(device->user_agent);
    next.device = std::string(device->name);
    add_group(change, EmulationGroup::Viewport);
    add_group(change, EmulationGroup::UserAgent);
  } else if (what == "ua") {
    const std::string agent = joined(words, 1);
    if (agent.empty()) return bad("set ua needs the user agent text");
    next.user_agent = agent;
    add_group(change, EmulationGroup::UserAgent);
  } else if (what == "geo") {
    auto place = read_geolocation(words);
    if (!place) return std::unexpected(place.error());
    next.geolocation = *place;
    add_group(change, EmulationGroup::Geolocation);
  } else if (what == "timezone") {
    if (words.size() != 2 || words[1].empty()) return bad("set timezone needs one zone name such as Europe/Berlin");
    next.timezone = words[1];
    add_group(change, EmulationGroup::Timezone);
  } else if (what == "locale") {
    if (words.size() != 2 || words[1].empty()) return bad("set locale needs one language tag such as de-DE");
    next.locale = words[1];
    add_group(change, EmulationGroup::Locale);
    add_group(change, EmulationGroup::UserAgent);  // the Accept-Language header and navigator.language
  } else if (what == "color-scheme") {
    auto scheme = one_of(words, {"dark", "light", "no-preference"});
    if (!scheme) return std::unexpected(scheme.error());
    next.color_scheme = *scheme;
    add_group(change, EmulationGroup::Media);
  } else if (what == "reduced-motion") {
    auto motion = one_of(words, {"reduce", "no-preference"});
    if (!motion) return std::unexpected(motion.error());
    next.reduced_motion = *motion;
    add_group(change, EmulationGroup::Media);
  } else if (what == "media") {
    auto media = one_of(words, {"print", "screen"});
    if (!media) return std::unexpected(media.error());
    next.media = *media;
    add_group(change, EmulationGroup::Media);
  } else if (what == "offline") {
    auto state = one_of(words, {"on", "off"});
    if (!state) return std::unexpected(state.error());
    next.offline = *state == "on";
    add_group(change, EmulationGroup::Network);
  } else if (what == "network") {
    auto profile = one_of(words, {"slow-3g", "fast-3g", "off"});
    if (!profile) return std::unexpected(profile.error());
    if (*profile == "off") next.network.reset();
    else next.network = *profile;
    add_group(change, EmulationGroup::Network);
  } else if (what == "cpu") {
    auto rate = words.size() == 2 ? number(words[1]) : std::nullopt;
    if (!rate || *rate < 1 || *rate > 100) {
      return bad("set cpu takes a slow-down factor from 1 (none) to 100, e.g. set cpu 4");
    }
    next.cpu_rate = *rate;
    add_group(change, EmulationGroup::Cpu);
  } else if (what == "headers") {
    next.headers.clear();
    for (std::size_t i = 1; i < words.size(); ++i) {
      auto header = read_header(words[i]);
      if (!header) return std::unexpected(header.error());
      next.headers.push_back(*header);
    }
    add_group(change, EmulationGroup::Headers);
  } else {
    return bad("unknown setting \"" + what + "\"");
  }
  return change;
}

Json settings_json(const EmulationSettings& settings) {
  Json out = Json::object();
  if (settings.viewport) {
    const Viewport& v = *settings.viewport;
    out["viewport"] = {{"width", v.width}, {"height", v.height}, {"deviceScaleFactor", v.scale},
                       {"mobile", v.mobile}, {"touch", v.touch}, {"landscape", v.landscape}};
  }
  if (settings.device) out["device"] = *settings.device;
  if (settings.user_agent) out["userAgent"] = *settings.user_agent;
  if (settings.geolocation) {
    out["geolocation"] = {{"latitude", settings.geolocation->latitude},
                          {"longitude", settings.geolocation->longitude},
                          {"accuracy", settings.geolocation->accuracy}};
  }
  if (settings.timezone) out["timezone"] = *settings.timezone;
  if (settings.locale) out["locale"] = *settings.locale;
  if (settings.color_scheme) out["colorScheme"] = *settings.color_scheme;
  if (settings.reduced_motion) out["reducedMotion"] = *settings.reduced_motion;
  if (settings.media) out["media"] = *settings.media;
  if (settings.offline) out["offline"] = true;
  if (settings.network) out["network"] = *settings.network;
  if (settings.cpu_rate != 1) out["cpuRate"] = settings.cpu_rate;
  if (!settings.headers.empty()) {
    Json headers = Json::object();
    for (const auto& [name, value] : settings.headers) headers[name] = value;
    out["headers"] = headers;
  }
  return out;
}

}  // namespace vesk::browser
