#pragma once
// Keys as Chromium's Input.dispatchKeyEvent wants them. A key is named like "Enter",
// "Tab", "ArrowDown", "a", "F5", or a chord "Control+Shift+k" (modifiers: Control/Ctrl,
// Shift, Alt, Meta/Cmd).

#include <optional>
#include <string>

#include "browser/methods/actions.hpp"
#include "browser/core/browser.hpp"
#include "browser/core/method_result.hpp"

namespace vesk::browser {

struct KeyDefinition {
  std::string key;    // DOM key value: "Enter", "a", "A"
  std::string code;   // physical key: "Enter", "KeyA"
  int key_code = 0;   // legacy keyCode
  std::string text;   // text the key types, "" for none
};

// The definition of one key name, or nullopt when it is unknown.
std::optional<KeyDefinition> key_definition(const std::string& name);

struct KeyChord {
  int modifiers = 0;  // Alt 1, Control 2, Meta 4, Shift 8
  KeyDefinition key;
};
std::expected<KeyChord, MethodError> parse_chord(const std::string& text);

// keyDown and keyUp of a chord (modifiers pressed around it).
std::expected<ActionOutcome, MethodError> press_chord(Browser& browser, Tab& tab, const KeyChord& chord);
// Only keyDown, or only keyUp.
std::expected<ActionOutcome, MethodError> key_event(Browser& browser, Tab& tab, const std::string& type,
                                                    const KeyChord& chord);
// Types text into the focused element, one key event per character.
std::expected<ActionOutcome, MethodError> type_text(Browser& browser, Tab& tab, const std::string& text);

}  // namespace vesk::browser
