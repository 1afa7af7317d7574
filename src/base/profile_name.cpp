#include "base/profile_name.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace vesk {

namespace {

// Device names Windows reserves in every folder, with or without an extension.
constexpr std::array<std::string_view, 22> kReservedNames = {
    "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
    "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};

constexpr std::string_view kForbiddenCharacters = "<>:\"/\\|?*";

bool is_reserved_device_name(std::string_view name) {
  std::string stem(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  std::transform(stem.begin(), stem.end(), stem.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return std::find(kReservedNames.begin(), kReservedNames.end(), stem) != kReservedNames.end();
}

std::string shown(std::string_view name) {
  std::string text;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f) {
      constexpr char kHex[] = "0123456789abcdef";
      text += "\\x";
      text += kHex[c >> 4];
      text += kHex[c & 0xf];
    } else {
      text += static_cast<char>(c);
    }
  }
  return "\"" + text + "\"";
}

}  // namespace

Status check_profile_name(std::string_view name) {
  const std::string accepted =
      "; a profile name is one folder name: letters, digits, spaces and punctuation other than "
      "<>:\"/\\|?*, not \".\" or \"..\", not ending in a dot or a space, at most " +
      std::to_string(kMaxProfileNameBytes) + " bytes";
  auto refuse = [&](const std::string& why) { return fail("invalid profile name " + shown(name) + ": " + why + accepted); };
  if (name.empty()) return refuse("it is empty");
  if (name == "." || name == "..") return refuse("it names a folder relative to the profiles folder");
  if (name.size() > kMaxProfileNameBytes) return refuse("it is too long");
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f) return refuse("it contains a control character");
    if (kForbiddenCharacters.find(static_cast<char>(c)) != std::string_view::npos) {
      return refuse(c == '/' || c == '\\' ? "it contains a path separator"
                                          : std::string("it contains '") + static_cast<char>(c) + "'");
    }
  }
  if (name.back() == '.' || name.back() == ' ') return refuse("it ends in a dot or a space");
  if (is_reserved_device_name(name)) return refuse("Windows reserves that name for a device");
  return {};
}

}  // namespace vesk
