#include "browser/handoff/live_input.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <utility>

namespace vesk::browser {
namespace {

constexpr int kModifierControl = 2;
constexpr int kModifierMeta = 4;

std::optional<double> finite_number(const Json& event, const char* key) {
  const auto found = event.find(key);
  if (found == event.end() || !found->is_number()) return std::nullopt;
  const double value = found->get<double>();
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

std::string text_of(const Json& event, const char* key) {
  const auto found = event.find(key);
  return found != event.end() && found->is_string() ? found->get<std::string>() : std::string{};
}

int integer_of(const Json& event, const char* key, int fallback = 0) {
  const auto value = finite_number(event, key);
  return value ? static_cast<int>(std::clamp(*value, -1e6, 1e6)) : fallback;
}

bool one_of(const std::string& value, std::initializer_list<const char*> allowed) {
  return std::any_of(allowed.begin(), allowed.end(), [&](const char* option) { return value == option; });
}

std::optional<DevToolsCommand> mouse(const Json& event) {
  const std::string type = text_of(event, "type");
  const std::string button = text_of(event, "button");
  const auto x = finite_number(event, "x");
  const auto y = finite_number(event, "y");
  if (!one_of(type, {"mousePressed", "mouseReleased", "mouseMoved"}) || !x || !y) return std::nullopt;
  Json params{{"type", type},
              {"x", *x},
              {"y", *y},
              {"modifiers", integer_of(event, "modifiers")},
              {"button", one_of(button, {"left", "middle", "right"}) ? button : "none"},
              {"buttons", integer_of(event, "buttons")},
              {"clickCount", std::clamp(integer_of(event, "clickCount", 1), 0, 3)}};
  return DevToolsCommand{"Input.dispatchMouseEvent", std::move(params)};
}

std::optional<DevToolsCommand> wheel(const Json& event) {
  const auto x = finite_number(event, "x");
  const auto y = finite_number(event, "y");
  if (!x || !y) return std::nullopt;
  return DevToolsCommand{"Input.dispatchMouseEvent",
                         Json{{"type", "mouseWheel"},
                              {"x", *x},
                              {"y", *y},
                              {"deltaX", finite_number(event, "deltaX").value_or(0)},
                              {"deltaY", finite_number(event, "deltaY").value_or(0)},
                              {"modifiers", integer_of(event, "modifiers")}}};
}

// Headless Chromium carries out editing shortcuts only when the key event names the
// editing command, so the common ones are added here (Control on Linux, Meta on macOS).
std::optional<std::string> editing_command(const std::string& key, int modifiers) {
  if ((modifiers & (kModifierControl | kModifierMeta)) == 0 || key.size() != 1) return std::nullopt;
  static constexpr std::array<std::pair<char, const char*>, 6> kCommands = {{
      {'a', "selectAll"}, {'c', "copy"}, {'x', "cut"}, {'v', "paste"}, {'z', "undo"}, {'y', "redo"},
  }};
  const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(key[0])));
  for (const auto& [shortcut, command] : kCommands) {
    if (letter == shortcut) return command;
  }
  return std::nullopt;
}

std::optional<DevToolsCommand> key(const Json& event) {
  const std::string type = text_of(event, "type");
  const std::string key_name = text_of(event, "key");
  if (!one_of(type, {"keyDown", "rawKeyDown", "keyUp"}) || key_name.empty()) return std::nullopt;
  const int modifiers = integer_of(event, "modifiers");
  const int key_code = integer_of(event, "keyCode");
  Json params{{"type", type},
              {"key", key_name},
              {"code", text_of(event, "code")},
              {"modifiers", modifiers},
              {"windowsVirtualKeyCode", key_code},
              {"nativeVirtualKeyCode", key_code},
              {"location", integer_of(event, "location")},
              {"autoRepeat", event.value("autoRepeat", false)}};
  const std::string text = text_of(event, "text");
  if (type != "keyUp" && !text.empty()) {
    params["text"] = text;
    params["unmodifiedText"] = text;
  }
  if (type != "keyUp") {
    if (auto command = editing_command(key_name, modifiers)) params["commands"] = Json::array({*command});
  }
  return DevToolsCommand{"Input.dispatchKeyEvent", std::move(params)};
}

std::optional<DevToolsCommand> text(const Json& event) {
  const std::string value = text_of(event, "text");
  if (value.empty()) return std::nullopt;
  return DevToolsCommand{"Input.insertText", Json{{"text", value}}};
}

}  // namespace

std::optional<DevToolsCommand> live_input_command(const Json& event) {
  if (!event.is_object()) return std::nullopt;
  const std::string kind = text_of(event, "kind");
  if (kind == "mouse") return mouse(event);
  if (kind == "wheel") return wheel(event);
  if (kind == "key") return key(event);
  if (kind == "text") return text(event);
  return std::nullopt;
}

}  // namespace vesk::browser
