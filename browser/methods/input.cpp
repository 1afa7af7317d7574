// Input methods: "mouse.click" (x, y), "mouse.drag" (from and to, as coordinates or
// elements), "mouse" (move X Y | down [button] | up [button] | wheel DX DY | click X Y),
// "keyboard.press" / "keyboard.keydown" / "keyboard.keyup" (a key or chord such as
// Control+a), "keyboard" (type TEXT, or insert TEXT).
#include "browser/methods/actions.hpp"
#include "browser/core/element_lookup.hpp"
#include "browser/methods/keyboard.hpp"
#include "browser/core/method_table.hpp"

namespace vesk::browser {

namespace {

// Where our last mouse event left the pointer in the tab, for "mouse down" without
// coordinates.
struct Pointer : Point {};

std::expected<Point, MethodError> point_from_words(const std::vector<std::string>& words, std::size_t at,
                                                   const std::string& usage) {
  if (words.size() < at + 2) return invalid_argument(usage);
  auto x = parse_number(words[at]);
  auto y = parse_number(words[at + 1]);
  if (!x || !y) return invalid_argument("\"" + words[at] + " " + words[at + 1] + "\" are not coordinates; " + usage);
  return Point{*x, *y};
}

// The centre of an element (ref or selector) in viewport coordinates.
std::expected<Point, MethodError> center_of(Browser& browser, Tab& tab, const std::string& target) {
  auto element = find_element(browser, tab, target);
  if (!element) return std::unexpected(element.error());
  return element_center(browser, tab, *element);
}

MethodResult mouse_click(Browser& browser, Tab& tab, const Json& params) {
  if (!params.contains("x") || !params.contains("y") || !params["x"].is_number() || !params["y"].is_number()) {
    return invalid_argument("mouse.click needs numeric \"x\" and \"y\" viewport coordinates");
  }
  Point point{params["x"].get<double>(), params["y"].get<double>()};
  auto watch = watch_if_waiting(browser, tab, params);
  ActionEffects effects(browser, tab);
  auto clicked = click_at(browser, tab, point);
  if (!clicked) return std::unexpected(clicked.error());
  tab.state<Pointer>().x = point.x;
  tab.state<Pointer>().y = point.y;
  return finish_action(browser, tab, params, {{"clicked", {{"x", point.x}, {"y", point.y}}}, {"tab", tab.id}},
                       *clicked, watch.get(), &effects);
}

MethodResult mouse_drag(Browser& browser, Tab& tab, const Json& params) {
  auto words = words_of(params);
  const std::string usage = "drag needs a start and an end: `vesk drag e1 e2` or `vesk drag X1 Y1 X2 Y2`";
  std::expected<Point, MethodError> from = invalid_argument(usage), to = invalid_argument(usage);
  if (words.size() == 4) {
    from = point_from_words(words, 0, usage);
    to = point_from_words(words, 2, usage);
  } else if (words.size() == 2) {
    from = center_of(browser, tab, words[0]);
    if (from) to = center_of(browser, tab, words[1]);
  }
  if (!from) return std::unexpected(from.error());
  if (!to) return std::unexpected(to.error());
  auto step = [&](const std::string& type, Point p, Json extra) { return mouse_event(browser, tab, type, p, extra); };
  Json pressed = {{"button", "left"}, {"buttons", 1}, {"clickCount", 1}};
  for (auto outcome : {step("mouseMoved", *from, Json::object()), step("mousePressed", *from, pressed)}) {
    if (!outcome) return std::unexpected(outcome.error());
  }
  // Several intermediate moves, so drag handlers see the pointer travel.
  constexpr int kSteps = 10;
  for (int i = 1; i <= kSteps; ++i) {
    Point p{from->x + (to->x - from->x) * i / kSteps, from->y + (to->y - from->y) * i / kSteps};
    auto moved = step("mouseMoved", p, {{"button", "left"}, {"buttons", 1}});
    if (!moved) return std::unexpected(moved.error());
  }
  auto released = step("mouseReleased", *to, {{"button", "left"}, {"buttons", 0}, {"clickCount", 1}});
  if (!released) return std::unexpected(released.error());
  tab.state<Pointer>().x = to->x;
  tab.state<Pointer>().y = to->y;
  return finish_action(browser, tab, params,
                       {{"dragged", {{"from", {{"x", from->x}, {"y", from->y}}}, {"to", {{"x", to->x}, {"y", to->y}}}}}},
                       *released, nullptr);
}

MethodResult mouse(Browser& browser, Tab& tab, const Json& params) {
  auto words = words_of(params);
  const std::string usage =
      "mouse needs an action: `move X Y`, `down [left|right|middle]`, `up [button]`, `wheel DX DY` or `click X Y`";
  if (words.empty()) return invalid_argument(usage);
  const std::string action = words[0];
  Point position = tab.state<Pointer>();
  std::expected<ActionOutcome, MethodError> outcome;
  Json result = {{"mouse", action}};
  if (action == "move" || action == "click") {
    auto point = point_from_words(words, 1, usage);
    if (!point) return std::unexpected(point.error());
    outcome = action == "move" ? mouse_event(browser, tab, "mouseMoved", *point) : click_at(browser, tab, *point);
    position = *point;
  } else if (action == "down" || action == "up") {
    const std::string button = words.size() > 1 ? words[1] : "left";
    if (button != "left" && button != "right" && button != "middle") return invalid_argument(usage);
    outcome = mouse_event(browser, tab, action == "down" ? "mousePressed" : "mouseReleased", position,
                          {{"button", button}, {"clickCount", 1}});
  } else if (action == "wheel" || action == "scroll") {
    auto delta = point_from_words(words, 1, usage);
    if (!delta) return std::unexpected(delta.error());
    outcome = mouse_event(browser, tab, "mouseWheel", position, {{"deltaX", delta->x}, {"deltaY", delta->y}});
  } else {
    return invalid_argument("unknown mouse action \"" + action + "\"; " + usage);
  }
  if (!outcome) return std::unexpected(outcome.error());
  tab.state<Pointer>().x = position.x;
  tab.state<Pointer>().y = position.y;
  result["x"] = position.x;
  result["y"] = position.y;
  return finish_action(browser, tab, params, std::move(result), *outcome, nullptr);
}

MethodResult key_method(Browser& browser, Tab& tab, const Json& params, const std::string& which) {
  auto words = words_of(params);
  if (words.empty()) return invalid_argument(which + " needs a key such as Enter, Tab, ArrowDown or Control+a");
  auto watch = watch_if_waiting(browser, tab, params);
  ActionEffects effects(browser, tab);
  Json pressed = Json::array();
  ActionOutcome last;
  for (const auto& word : words) {
    auto chord = parse_chord(word);
    if (!chord) return std::unexpected(chord.error());
    std::expected<ActionOutcome, MethodError> outcome;
    if (which == "keyboard.press") outcome = press_chord(browser, tab, *chord);
    else outcome = key_event(browser, tab, which == "keyboard.keydown" ? "keyDown" : "keyUp", *chord);
    if (!outcome) return std::unexpected(outcome.error());
    pressed.push_back(word);
    last = *outcome;
    if (last.dialog) break;
  }
  const char* key = which == "keyboard.press" ? "pressed" : (which == "keyboard.keydown" ? "down" : "up");
  return finish_action(browser, tab, params, {{key, pressed}}, last, watch.get(), &effects);
}

MethodResult keyboard(Browser& browser, Tab& tab, const Json& params) {
  auto words = words_of(params);
  std::size_t from = 0;
  bool insert = false;
  if (!words.empty() && (words[0] == "type" || words[0] == "insert" || words[0] == "inserttext")) {
    insert = words[0] != "type";
    from = 1;
  }
  const std::string text = joined_words(params, from);
  if (text.empty()) return invalid_argument("keyboard needs text: `vesk keyboard type \"hello\"`");
  std::expected<ActionOutcome, MethodError> outcome;
  if (insert) {
    auto inserted = browser.call(tab, "Input.insertText", {{"text", text}});
    if (!inserted) return std::unexpected(from_cdp(inserted.error(), "failed to insert text"));
    outcome = ActionOutcome{};
  } else {
    outcome = type_text(browser, tab, text);
  }
  if (!outcome) return std::unexpected(outcome.error());
  return finish_action(browser, tab, params, {{"typed", text}}, *outcome, nullptr);
}

}  // namespace

void add_input_methods(MethodTable& table) {
  table["mouse.click"] = tab_method(mouse_click);
  table["mouse.drag"] = tab_method(mouse_drag);
  table["mouse"] = tab_method(mouse);
  table["keyboard.press"] = tab_method([](Browser& b, Tab& t, const Json& p) { return key_method(b, t, p, "keyboard.press"); });
  table["keyboard.keydown"] = tab_method([](Browser& b, Tab& t, const Json& p) { return key_method(b, t, p, "keyboard.keydown"); });
  table["keyboard.keyup"] = tab_method([](Browser& b, Tab& t, const Json& p) { return key_method(b, t, p, "keyboard.keyup"); });
  table["keyboard"] = tab_method(keyboard);
}

}  // namespace vesk::browser
