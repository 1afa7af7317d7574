#pragma once
// What every action that may change the page shares: real mouse clicks and key presses
// through Input.dispatch*, and the finishing of an action: a JavaScript dialog it opened
// is reported in the result (and accepted or dismissed when "dialogAction" says so,
// with "dialogText" for a prompt), "waitNav" waits for the navigation it started, and
// "text" adds the page's text.

#include <memory>
#include <optional>
#include <string>

#include "base/json.hpp"
#include "browser/core/browser.hpp"
#include "browser/core/element_lookup.hpp"
#include "browser/core/method_result.hpp"
#include "browser/methods/action_effects.hpp"
#include "browser/methods/navigation.hpp"

namespace vesk::browser {

struct Point {
  double x = 0;
  double y = 0;
};

// What an action leaves behind for finish_action: a dialog it ran into.
struct ActionOutcome {
  std::optional<Json> dialog;
};

// Moves the mouse to the point and presses and releases `button` `click_count` times.
// A dialog opened by the click ends it early and is returned in the outcome.
std::expected<ActionOutcome, MethodError> click_at(Browser& browser, Tab& tab, Point point,
                                                   int click_count = 1,
                                                   const std::string& button = "left");

// One mouse event ("mouseMoved", "mousePressed", "mouseReleased", "mouseWheel").
std::expected<ActionOutcome, MethodError> mouse_event(Browser& browser, Tab& tab, const std::string& type,
                                                      Point point, const Json& extra = Json::object());

// The visible centre of the element after scrolling it into view (or the point at the
// offsets from its top-left corner). "elementNotVisible" when it has no box.
std::expected<Point, MethodError> element_center(Browser& browser, Tab& tab, const ElementHandle& element,
                                                 std::optional<double> offset_x = {},
                                                 std::optional<double> offset_y = {});
// A real click in the element's centre.
std::expected<ActionOutcome, MethodError> click_element(Browser& browser, Tab& tab, const ElementHandle& element);

// Starts watching for a navigation when params ask for "waitNav".
std::unique_ptr<LoadWatch> watch_if_waiting(Browser& browser, Tab& tab, const Json& params);

// Completes `result` after an action: dialog report or handling, what the action caused
// (a navigation, a new tab, a download: `effects`, made before the action), navigation
// wait, text.
MethodResult finish_action(Browser& browser, Tab& tab, const Json& params, Json result,
                           const ActionOutcome& outcome, LoadWatch* watch, ActionEffects* effects = nullptr);

// Whether a click at `point` reaches the element: "elementCovered" naming what is in the
// way (its role, name and a selector) when the topmost element there is another one. The
// answer also says whether the element is a link that saves a download.
struct ClickReach {
  bool download_link = false;
};
std::expected<ClickReach, MethodError> ensure_click_reaches(Browser& browser, Tab& tab, const ElementHandle& element,
                                                            Point point);

// Accepts or dismisses the dialog open on the tab; the report of what was done.
MethodResult handle_dialog(Browser& browser, Tab& tab, bool accept, const std::optional<std::string>& prompt_text);

}  // namespace vesk::browser
