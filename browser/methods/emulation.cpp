// "emulation.set" (`vesk set ...`): what the tab's pages see of the device, the place, the
// clock, the network and the user's preferences. The words are read by
// emulation_settings.cpp; here each changed group is pushed to Chromium on the tab's
// session, where it holds across the tab's navigations. Every answer lists the settings
// in effect.
#include "browser/methods/devices.hpp"
#include "browser/methods/emulation_settings.hpp"
#include "browser/core/method_table.hpp"
#include "browser/core/page_script.hpp"

namespace vesk::browser {

namespace {

// Chromium's own user agent, for undoing an override (there is no call that clears one).
std::expected<std::string, MethodError> default_user_agent(Browser& browser) {
  auto version = browser.call_browser("Browser.getVersion", Json::object());
  if (!version) return std::unexpected(from_cdp(version.error(), "failed to read the browser's user agent"));
  return version->value("userAgent", "");
}

// A zone Chromium does not know is taken silently (the page then runs in UTC), so the
// name is checked by the page's own Intl first.
std::expected<void, MethodError> check_timezone(Browser& browser, Tab& tab, const std::string& zone) {
  auto known = evaluate(browser, tab,
                        "(() => { try { new Intl.DateTimeFormat('en', {timeZone: " + js_string(zone) +
                            "}); return true; } catch (e) { return false; } })()");
  if (!known) return std::unexpected(known.error());
  if (known->is_boolean() && known->get<bool>()) return {};
  return invalid_argument("unknown time zone \"" + zone +
                          "\"; use an IANA zone name such as Europe/Berlin, America/New_York or UTC");
}

std::expected<void, MethodError> push(Browser& browser, Tab& tab, const EmulationSettings& settings,
                                      EmulationGroup group) {
  auto call = [&](const char* method, Json params, const std::string& what) -> std::expected<void, MethodError> {
    auto reply = browser.call(tab, method, std::move(params));
    if (!reply) {
      if (reply.error().kind == CdpFailureKind::Protocol) {
        return invalid_argument(what + " was refused: " + reply.error().message);
      }
      return std::unexpected(from_cdp(reply.error(), "failed to set " + what));
    }
    return {};
  };
  switch (group) {
    case EmulationGroup::Viewport: {
      if (!settings.viewport) {
        if (auto done = call("Emulation.clearDeviceMetricsOverride", Json::object(), "the viewport"); !done) return done;
        return call("Emulation.setTouchEmulationEnabled", {{"enabled", false}}, "touch");
      }
      const Viewport& v = *settings.viewport;
      Json metrics = {{"width", v.width}, {"height", v.height}, {"deviceScaleFactor", v.scale}, {"mobile", v.mobile}};
      if (v.landscape) metrics["screenOrientation"] = {{"type", "landscapePrimary"}, {"angle", 90}};
      if (auto done = call("Emulation.setDeviceMetricsOverride", metrics, "the viewport"); !done) return done;
      Json touch = {{"enabled", v.touch}};
      if (v.touch) touch["maxTouchPoints"] = 5;
      return call("Emulation.setTouchEmulationEnabled", touch, "touch");
    }
    case EmulationGroup::UserAgent: {
      std::string agent;
      if (settings.user_agent) {
        agent = *settings.user_agent;
      } else {
        auto original = default_user_agent(browser);
        if (!original) return std::unexpected(original.error());
        agent = *original;
      }
      Json params = {{"userAgent", agent}};
      // navigator.language and the Accept-Language header follow the locale.
      if (settings.locale) params["acceptLanguage"] = *settings.locale;
      return call("Emulation.setUserAgentOverride", params, "the user agent");
    }
    case EmulationGroup::Geolocation: {
      if (!settings.geolocation) return call("Emulation.clearGeolocationOverride", Json::object(), "the location");
      auto granted = browser.call_browser("Browser.grantPermissions", {{"permissions", {"geolocation"}}});
      if (!granted) return std::unexpected(from_cdp(granted.error(), "failed to grant the location permission"));
      return call("Emulation.setGeolocationOverride",
                  {{"latitude", settings.geolocation->latitude},
                   {"longitude", settings.geolocation->longitude},
                   {"accuracy", settings.geolocation->accuracy}},
                  "the location");
    }
    case EmulationGroup::Timezone:
      if (settings.timezone) {
        if (auto known = check_timezone(browser, tab, *settings.timezone); !known) return known;
      }
      return call("Emulation.setTimezoneOverride", {{"timezoneId", settings.timezone.value_or("")}}, "the time zone");
    case EmulationGroup::Locale: {
      Json params = Json::object();
      if (settings.locale) params["locale"] = *settings.locale;
      return call("Emulation.setLocaleOverride", params, "locale \"" + settings.locale.value_or("") + "\"");
    }
    case EmulationGroup::Media: {
      Json features = Json::array();
      if (settings.color_scheme) features.push_back({{"name", "prefers-color-scheme"}, {"value", *settings.color_scheme}});
      if (settings.reduced_motion) features.push_back({{"name", "prefers-reduced-motion"}, {"value", *settings.reduced_motion}});
      return call("Emulation.setEmulatedMedia", {{"media", settings.media.value_or("")}, {"features", features}},
                  "the media features");
    }
    case EmulationGroup::Network: {
      NetworkProfile profile;
      if (settings.network) profile = network_profile(*settings.network).value_or(NetworkProfile{});
      if (auto enabled = call("Network.enable", Json::object(), "the network conditions"); !enabled) return enabled;
      return call("Network.emulateNetworkConditions",
                  {{"offline", settings.offline},
                   {"latency", profile.latency_ms},
                   {"downloadThroughput", profile.download},
                   {"uploadThroughput", profile.upload}},
                  "the network conditions");
    }
    case EmulationGroup::Cpu:
      return call("Emulation.setCPUThrottlingRate", {{"rate", settings.cpu_rate}}, "the CPU slow-down");
    case EmulationGroup::Headers: {
      Json headers = Json::object();
      for (const auto& [name, value] : settings.headers) headers[name] = value;
      if (auto enabled = call("Network.enable", Json::object(), "the extra headers"); !enabled) return enabled;
      return call("Network.setExtraHTTPHeaders", {{"headers", headers}}, "the extra headers");
    }
  }
  return {};
}

Json device_list() {
  Json devices = Json::array();
  for (const Device& device : known_devices()) {
    devices.push_back({{"name", device.name},
                       {"width", device.width},
                       {"height", device.height},
                       {"deviceScaleFactor", device.scale},
                       {"mobile", device.mobile},
                       {"touch", device.touch},
                       {"userAgent", device.user_agent}});
  }
  return {{"devices", devices}};
}

MethodResult set(Browser& browser, Tab& tab, const Json& params) {
  EmulationSettings& current = tab.state<EmulationSettings>();
  auto request = read_emulation_words(words_of(params), current);
  if (!request) return invalid_argument(request.error());
  if (std::holds_alternative<ListDevices>(*request)) return device_list();
  if (auto* change = std::get_if<ChangeSettings>(&*request)) {
    for (EmulationGroup group : change->groups) {
      // The groups that Chromium may refuse (locale, time zone) come first in a change, so a
      // refusal leaves nothing of it half applied.
      auto pushed = push(browser, tab, change->settings, group);
      if (!pushed) return std::unexpected(pushed.error());
    }
    current = change->settings;
  }
  return Json{{"tab", tab.id}, {"settings", settings_json(current)}};
}

}  // namespace

void add_emulation_methods(MethodTable& table) { table["emulation.set"] = tab_method(set); }

}  // namespace vesk::browser
