// "clipboard": the page's clipboard, read and written through the page's own clipboard
// API, so the page sees what a user's copy and paste would give it.
//   vesk clipboard read | vesk clipboard write TEXT... | vesk clipboard paste TEXT...
// paste writes the text, then pastes it at the focused element as Ctrl+V would.
// The permission the API asks for is granted through the browser, so no prompt ever
// waits; the tab is also told it has focus, which the API requires.
#include "browser/core/method_table.hpp"
#include "browser/core/page_script.hpp"

namespace vesk::browser {

namespace {

constexpr const char* kUsage = "clipboard takes `read`, `write TEXT` or `paste TEXT`";

// Grants the clipboard permissions to the page's origin in the tab's browser context and
// makes the tab count as focused.
std::expected<void, MethodError> allow_clipboard(Browser& browser, Tab& tab) {
  const Json page = unwrap(evaluate(browser, tab, "({origin: location.origin, secure: window.isSecureContext})"));
  if (!page.value("secure", false)) {
    return method_error("actionFailed", "the clipboard is only open to secure pages (https, localhost or a file); "
                                        "tab " + tab.id + " shows " + page.value("origin", std::string("an opaque origin")));
  }
  const Json target = unwrap(browser.call_browser("Target.getTargetInfo", {{"targetId", tab.target_id}}),
                             "failed to read tab " + tab.id + "'s target");
  const std::string context = target.value("targetInfo", Json::object()).value("browserContextId", "");
  const std::string origin = page.value("origin", "");
  // One permission at a time: granting a list would deny the origin every permission not
  // in it (the geolocation that `vesk set geo` granted, say).
  for (const char* permission : {"clipboard-read", "clipboard-write"}) {
    Json setting = {{"permission", {{"name", permission}}}, {"setting", "granted"}};
    if (!origin.empty() && origin != "null") setting["origin"] = origin;
    if (!context.empty()) setting["browserContextId"] = context;
    unwrap(browser.call_browser("Browser.setPermission", std::move(setting)),
           std::string("failed to grant the ") + permission + " permission");
  }
  unwrap(browser.call(tab, "Emulation.setFocusEmulationEnabled", {{"enabled", true}}), "failed to focus tab " + tab.id);
  return {};
}

MethodResult write_text(Browser& browser, Tab& tab, const std::string& text) {
  unwrap(evaluate(browser, tab, "navigator.clipboard.writeText(" + js_string(text) + ").then(() => true)"));
  return Json{{"tab", tab.id}, {"text", text}};
}

// Ctrl+V as the editing command, so it pastes on every platform's key bindings.
MethodResult paste(Browser& browser, Tab& tab) {
  const Json key = {{"key", "v"}, {"code", "KeyV"}, {"windowsVirtualKeyCode", 86}, {"modifiers", 2}};
  Json down = key;
  down["type"] = "rawKeyDown";
  down["commands"] = Json::array({"paste"});
  Json up = key;
  up["type"] = "keyUp";
  unwrap(browser.call(tab, "Input.dispatchKeyEvent", std::move(down)), "failed to paste");
  unwrap(browser.call(tab, "Input.dispatchKeyEvent", std::move(up)), "failed to paste");
  return unwrap(evaluate(browser, tab, "document.activeElement ? document.activeElement.tagName.toLowerCase() : null"));
}

MethodResult clipboard(Browser& browser, Tab& tab, const Json& params) {
  const auto words = words_of(params);
  if (words.empty()) return invalid_argument(kUsage);
  const std::string& action = words[0];
  if (action == "read") {
    if (words.size() > 1) return invalid_argument("clipboard read takes no more words; " + std::string(kUsage));
    unwrap(allow_clipboard(browser, tab));
    return Json{{"tab", tab.id}, {"text", unwrap(evaluate(browser, tab, "navigator.clipboard.readText()"))}};
  }
  if (action == "write" || action == "paste") {
    if (words.size() < 2) return invalid_argument("clipboard " + action + " needs the text; " + kUsage);
    unwrap(allow_clipboard(browser, tab));
    Json result = unwrap(write_text(browser, tab, joined_words(params, 1)));
    if (action == "paste") {
      result["pasted"] = true;
      result["focused"] = unwrap(paste(browser, tab));
    }
    return result;
  }
  return invalid_argument("unknown action \"" + action + "\"; " + kUsage);
}

}  // namespace

void add_clipboard_methods(MethodTable& table) { table["clipboard"] = tab_method(clipboard); }

}  // namespace vesk::browser
