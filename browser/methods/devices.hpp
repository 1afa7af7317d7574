#pragma once
// The phones and tablets `vesk set device NAME` knows: each one's viewport in CSS pixels
// (portrait), device pixel ratio, user agent and touch. Figures are the ones the devices
// report to web pages.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vesk::browser {

struct Device {
  std::string_view name;
  int width = 0;
  int height = 0;
  double scale = 1;  // device pixel ratio
  bool mobile = true;
  bool touch = true;
  std::string_view user_agent;
};

std::span<const Device> known_devices();

// The device whose name matches `name` ignoring case, spaces, hyphens and underscores
// ("iphone-15", "iPhone 15").
std::optional<Device> find_device(std::string_view name);

}  // namespace vesk::browser
