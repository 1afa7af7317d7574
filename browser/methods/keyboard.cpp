#include "browser/methods/keyboard.hpp"

#include <cctype>
#include <map>

namespace vesk::browser {

namespace {

const std::map<std::string, KeyDefinition, std::less<>>& named_keys() {
  static const std::map<std::string, KeyDefinition, std::less<>> keys = [] {
    std::map<std::string, KeyDefinition, std::less<>> k = {
        {"Enter", {"Enter", "Enter", 13, "\r"}},
        {"Tab", {"Tab", "Tab", 9, ""}},
        {"Escape", {"Escape", "Escape", 27, ""}},
        {"Backspace", {"Backspace", "Backspace", 8, ""}},
        {"Delete", {"Delete", "Delete", 46, ""}},
        {"Space", {" ", "Space", 32, " "}},
        {"ArrowUp", {"ArrowUp", "ArrowUp", 38, ""}},
        {"ArrowDown", {"ArrowDown", "ArrowDown", 40, ""}},
        {"ArrowLeft", {"ArrowLeft", "ArrowLeft", 37, ""}},
        {"ArrowRight", {"ArrowRight", "ArrowRight", 39, ""}},
        {"Home", {"Home", "Home", 36, ""}},
        {"End", {"End", "End", 35, ""}},
        {"PageUp", {"PageUp", "PageUp", 33, ""}},
        {"PageDown", {"PageDown", "PageDown", 34, ""}},
        {"Insert", {"Insert", "Insert", 45, ""}},
        {"Shift", {"Shift", "ShiftLeft", 16, ""}},
        {"Control", {"Control", "ControlLeft", 17, ""}},
        {"Alt", {"Alt", "AltLeft", 18, ""}},
        {"Meta", {"Meta", "MetaLeft", 91, ""}},
    };
    for (int f = 1; f <= 12; ++f) {
      std::string name = "F" + std::to_string(f);
      k[name] = {name, name, 111 + f, ""};
    }
    // Common spellings.
    k["Return"] = k["Enter"];
    k["Esc"] = k["Escape"];
    k["Up"] = k["ArrowUp"];
    k["Down"] = k["ArrowDown"];
    k["Left"] = k["ArrowLeft"];
    k["Right"] = k["ArrowRight"];
    return k;
  }();
  return keys;
}

const std::map<char, std::pair<const char*, int>>& punctuation() {
  static const std::map<char, std::pair<const char*, int>> keys = {
      {' ', {"Space", 32}},        {'-', {"Minus", 189}},     {'=', {"Equal", 187}},
      {'[', {"BracketLeft", 219}}, {']', {"BracketRight", 221}}, {'\\', {"Backslash", 220}},
      {';', {"Semicolon", 186}},   {'\'', {"Quote", 222}},    {',', {"Comma", 188}},
      {'.', {"Period", 190}},      {'/', {"Slash", 191}},     {'`', {"Backquote", 192}}};
  return keys;
}

int modifier_bit(std::string_view name) {
  if (name == "Alt" || name == "Option") return 1;
  if (name == "Control" || name == "Ctrl") return 2;
  if (name == "Meta" || name == "Cmd" || name == "Command") return 4;
  if (name == "Shift") return 8;
  return 0;
}

std::expected<ActionOutcome, MethodError> dispatch(Browser& browser, Tab& tab, Json params) {
  auto sent = browser.call(tab, "Input.dispatchKeyEvent", std::move(params));
  if (!sent) {
    if (sent.error().kind == CdpFailureKind::DialogOpen) return ActionOutcome{sent.error().dialog};
    return std::unexpected(from_cdp(sent.error(), "failed to send a key event"));
  }
  return ActionOutcome{};
}

// Length of the UTF-8 sequence that starts with this byte.
std::size_t sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  return 4;
}

}  // namespace

std::optional<KeyDefinition> key_definition(const std::string& name) {
  auto named = named_keys().find(name);
  if (named != named_keys().end()) return named->second;
  if (name.size() != 1) return std::nullopt;
  const char c = name[0];
  if (std::isalpha(static_cast<unsigned char>(c))) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return KeyDefinition{name, std::string("Key") + upper, upper, name};
  }
  if (std::isdigit(static_cast<unsigned char>(c))) return KeyDefinition{name, "Digit" + name, c, name};
  auto punct = punctuation().find(c);
  if (punct != punctuation().end()) return KeyDefinition{name, punct->second.first, punct->second.second, name};
  if (std::isprint(static_cast<unsigned char>(c))) return KeyDefinition{name, "", 0, name};
  return std::nullopt;
}

std::expected<KeyChord, MethodError> parse_chord(const std::string& text) {
  KeyChord chord;
  std::string rest = text;
  // "Control++" presses "+" with Control: only split on "+" that is followed by more.
  std::size_t plus;
  while ((plus = rest.find('+')) != std::string::npos && plus + 1 < rest.size() && plus > 0) {
    const std::string part = rest.substr(0, plus);
    const int bit = modifier_bit(part);
    if (bit == 0) {
      return invalid_argument("unknown modifier \"" + part + "\" in \"" + text +
                              "\"; use Control, Shift, Alt or Meta, as in Control+a");
    }
    chord.modifiers |= bit;
    rest = rest.substr(plus + 1);
  }
  auto key = key_definition(rest);
  if (!key) {
    return invalid_argument("unknown key \"" + rest +
                            "\"; use a character or a key name such as Enter, Tab, Escape, "
                            "Backspace, ArrowDown, PageDown or F5");
  }
  chord.key = *key;
  // With Control, Alt or Meta held a key types nothing (it is a shortcut).
  if ((chord.modifiers & (1 | 2 | 4)) != 0) chord.key.text.clear();
  if ((chord.modifiers & 8) != 0 && chord.key.text.size() == 1 &&
      std::isalpha(static_cast<unsigned char>(chord.key.text[0]))) {
    chord.key.text = std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(chord.key.text[0]))));
    chord.key.key = chord.key.text;
  }
  return chord;
}

std::expected<ActionOutcome, MethodError> key_event(Browser& browser, Tab& tab, const std::string& type,
                                                    const KeyChord& chord) {
  Json params = {{"type", type == "keyDown" && !chord.key.text.empty() ? "keyDown" : (type == "keyDown" ? "rawKeyDown" : "keyUp")},
                 {"modifiers", chord.modifiers},
                 {"key", chord.key.key},
                 {"code", chord.key.code},
                 {"windowsVirtualKeyCode", chord.key.key_code}};
  if (type == "keyDown" && !chord.key.text.empty()) {
    params["text"] = chord.key.text;
    params["unmodifiedText"] = chord.key.text;
  }
  return dispatch(browser, tab, std::move(params));
}

std::expected<ActionOutcome, MethodError> press_chord(Browser& browser, Tab& tab, const KeyChord& chord) {
  // Modifiers go down first and come up last, as on a real keyboard.
  int held = 0;
  const char* modifier_names[] = {"Alt", "Control", "Meta", "Shift"};
  const int modifier_bits[] = {1, 2, 4, 8};
  for (int i = 0; i < 4; ++i) {
    if ((chord.modifiers & modifier_bits[i]) == 0) continue;
    held |= modifier_bits[i];
    KeyChord modifier{held, *key_definition(modifier_names[i])};
    auto down = key_event(browser, tab, "keyDown", modifier);
    if (!down || down->dialog) return down;
  }
  auto down = key_event(browser, tab, "keyDown", chord);
  if (!down || down->dialog) return down;
  auto up = key_event(browser, tab, "keyUp", chord);
  if (!up || up->dialog) return up;
  for (int i = 3; i >= 0; --i) {
    if ((chord.modifiers & modifier_bits[i]) == 0) continue;
    held &= ~modifier_bits[i];
    KeyChord modifier{held, *key_definition(modifier_names[i])};
    auto released = key_event(browser, tab, "keyUp", modifier);
    if (!released || released->dialog) return released;
  }
  return ActionOutcome{};
}

std::expected<ActionOutcome, MethodError> type_text(Browser& browser, Tab& tab, const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = std::min(sequence_length(lead), text.size() - i);
    const std::string character = text.substr(i, length);
    i += length;
    std::expected<ActionOutcome, MethodError> sent;
    if (character == "\n") {
      sent = press_chord(browser, tab, KeyChord{0, *key_definition("Enter")});
    } else if (auto key = length == 1 ? key_definition(character) : std::nullopt) {
      sent = press_chord(browser, tab, KeyChord{0, *key});
    } else {
      // No key for it on a US layout: insert the text the way an input method would.
      auto inserted = browser.call(tab, "Input.insertText", {{"text", character}});
      if (!inserted) {
        if (inserted.error().kind == CdpFailureKind::DialogOpen) return ActionOutcome{inserted.error().dialog};
        return std::unexpected(from_cdp(inserted.error(), "failed to type text"));
      }
      sent = ActionOutcome{};
    }
    if (!sent || sent->dialog) return sent;
  }
  return ActionOutcome{};
}

}  // namespace vesk::browser
