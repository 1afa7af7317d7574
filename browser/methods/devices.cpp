#include "browser/methods/devices.hpp"

#include <array>
#include <cctype>

namespace vesk::browser {

namespace {

constexpr std::string_view kIphoneUa =
    "Mozilla/5.0 (iPhone; CPU iPhone OS 17_5 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) "
    "Version/17.5 Mobile/15E148 Safari/604.1";
constexpr std::string_view kIpadUa =
    "Mozilla/5.0 (iPad; CPU OS 17_5 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) "
    "Version/17.5 Mobile/15E148 Safari/604.1";
constexpr std::string_view kPixel7Ua =
    "Mozilla/5.0 (Linux; Android 14; Pixel 7) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/126.0.0.0 Mobile Safari/537.36";
constexpr std::string_view kPixel5Ua =
    "Mozilla/5.0 (Linux; Android 13; Pixel 5) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/126.0.0.0 Mobile Safari/537.36";
constexpr std::string_view kGalaxyS20Ua =
    "Mozilla/5.0 (Linux; Android 13; SM-G988B) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/126.0.0.0 Mobile Safari/537.36";
constexpr std::string_view kGalaxyS8Ua =
    "Mozilla/5.0 (Linux; Android 9; SM-G950F) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/126.0.0.0 Mobile Safari/537.36";
constexpr std::string_view kGalaxyTabUa =
    "Mozilla/5.0 (Linux; Android 13; SM-X700) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/126.0.0.0 Safari/537.36";
constexpr std::string_view kSurfaceUa =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/126.0.0.0 Safari/537.36";

constexpr std::array kDevices = {
    Device{"iPhone SE", 375, 667, 2, true, true, kIphoneUa},
    Device{"iPhone 13", 390, 844, 3, true, true, kIphoneUa},
    Device{"iPhone 14", 390, 844, 3, true, true, kIphoneUa},
    Device{"iPhone 15", 393, 852, 3, true, true, kIphoneUa},
    Device{"iPhone 15 Pro", 393, 852, 3, true, true, kIphoneUa},
    Device{"iPhone 15 Pro Max", 430, 932, 3, true, true, kIphoneUa},
    Device{"Pixel 5", 393, 851, 2.75, true, true, kPixel5Ua},
    Device{"Pixel 7", 412, 915, 2.625, true, true, kPixel7Ua},
    Device{"Galaxy S8", 360, 740, 4, true, true, kGalaxyS8Ua},
    Device{"Galaxy S20 Ultra", 412, 915, 3.5, true, true, kGalaxyS20Ua},
    Device{"iPad Mini", 768, 1024, 2, true, true, kIpadUa},
    Device{"iPad Air", 820, 1180, 2, true, true, kIpadUa},
    Device{"iPad Pro 11", 834, 1194, 2, true, true, kIpadUa},
    Device{"iPad Pro 12.9", 1024, 1366, 2, true, true, kIpadUa},
    Device{"Galaxy Tab S9", 800, 1280, 2, true, true, kGalaxyTabUa},
    Device{"Surface Pro 7", 912, 1368, 2, false, true, kSurfaceUa},
};

std::string folded(std::string_view name) {
  std::string out;
  for (unsigned char c : name) {
    if (c == ' ' || c == '-' || c == '_') continue;
    out += static_cast<char>(std::tolower(c));
  }
  return out;
}

}  // namespace

std::span<const Device> known_devices() { return kDevices; }

std::optional<Device> find_device(std::string_view name) {
  const std::string wanted = folded(name);
  for (const Device& device : kDevices) {
    if (folded(device.name) == wanted) return device;
  }
  return std::nullopt;
}

}  // namespace vesk::browser
