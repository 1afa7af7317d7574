#include "browser/methods/actions.hpp"

#include <algorithm>

#include "browser/core/method_table.hpp"
#include "browser/core/page_script.hpp"
#include "browser/js/page_scripts.hpp"

namespace vesk::browser {

namespace {

int button_mask(const std::string& button) {
  if (button == "right") return 2;
  if (button == "middle") return 4;
  return 1;
}

Json dialog_report(const Json& dialog) {
  return {{"type", dialog.value("type", "alert")},
          {"message", dialog.value("message", "")},
          {"defaultPrompt", dialog.value("defaultPrompt", "")}};
}

}  // namespace

std::expected<ActionOutcome, MethodError> mouse_event(Browser& browser, Tab& tab, const std::string& type,
                                                      Point point, const Json& extra) {
  Json params = extra;
  params["type"] = type;
  params["x"] = point.x;
  params["y"] = point.y;
  auto sent = browser.call(tab, "Input.dispatchMouseEvent", std::move(params));
  if (!sent) {
    if (sent.error().kind == CdpFailureKind::DialogOpen) return ActionOutcome{sent.error().dialog};
    return std::unexpected(from_cdp(sent.error(), "failed to send a mouse event"));
  }
  return ActionOutcome{};
}

std::expected<ActionOutcome, MethodError> click_at(Browser& browser, Tab& tab, Point point, int click_count,
                                                   const std::string& button) {
  // The pointer moves onto the element first, as a person's does (hover handlers run). The
  // renderer may hold a move until its next frame; the press that follows in the same queue
  // releases it at once, so waiting for the move's answer would only add that frame's delay.
  browser.send(tab, "Input.dispatchMouseEvent", {{"type", "mouseMoved"}, {"x", point.x}, {"y", point.y}});
  for (int count = 1; count <= click_count; ++count) {
    Json press = {{"button", button}, {"buttons", button_mask(button)}, {"clickCount", count}};
    auto pressed = mouse_event(browser, tab, "mousePressed", point, press);
    if (!pressed || pressed->dialog) return pressed;
    press["buttons"] = 0;
    auto released = mouse_event(browser, tab, "mouseReleased", point, press);
    if (!released || released->dialog) return released;
  }
  return ActionOutcome{};
}

std::expected<ElementSpot, MethodError> element_spot(Browser& browser, Tab& tab, const ElementHandle& element,
                                                     std::optional<double> offset_x, std::optional<double> offset_y) {
  auto scrolled = element_command(browser, tab, element, "DOM.scrollIntoViewIfNeeded", node_params(element));
  if (!scrolled && scrolled.error().kind != CdpFailureKind::Protocol) {
    return std::unexpected(from_cdp(scrolled.error(), "failed to scroll to " + element.target));
  }
  auto quads = element_command(browser, tab, element, "DOM.getContentQuads", node_params(element));
  const Json list = quads ? quads->value("quads", Json::array()) : Json::array();
  // The page's bounding rectangle of an element is the box around all its quads.
  std::optional<Point> origin;
  for (const auto& quad : list) {
    if (!quad.is_array() || quad.size() != 8) continue;
    for (std::size_t i = 0; i < 8; i += 2) {
      const Point corner{quad[i].get<double>() + element.frame_x, quad[i + 1].get<double>() + element.frame_y};
      origin = origin ? Point{std::min(origin->x, corner.x), std::min(origin->y, corner.y)} : corner;
    }
  }
  for (const auto& quad : list) {
    if (!quad.is_array() || quad.size() != 8) continue;
    double xs[4], ys[4];
    for (int i = 0; i < 4; ++i) {
      xs[i] = quad[static_cast<std::size_t>(2 * i)].get<double>() + element.frame_x;
      ys[i] = quad[static_cast<std::size_t>(2 * i + 1)].get<double>() + element.frame_y;
    }
    const double left = std::min({xs[0], xs[1], xs[2], xs[3]});
    const double top = std::min({ys[0], ys[1], ys[2], ys[3]});
    const double right = std::max({xs[0], xs[1], xs[2], xs[3]});
    const double bottom = std::max({ys[0], ys[1], ys[2], ys[3]});
    if (right - left < 1 || bottom - top < 1) continue;
    if (offset_x || offset_y) {
      return ElementSpot{{left + offset_x.value_or((right - left) / 2), top + offset_y.value_or((bottom - top) / 2)},
                         *origin};
    }
    return ElementSpot{{(left + right) / 2, (top + bottom) / 2}, *origin};
  }
  if (!quads && quads.error().kind != CdpFailureKind::Protocol) {
    return std::unexpected(from_cdp(quads.error(), "failed to locate " + element.target));
  }
  return method_error("elementNotVisible",
                      "element " + element.target +
                          " has no visible box to act on (it is hidden or has no size); make it visible "
                          "first (for example by opening its menu), or check `vesk visible " +
                          element.target + "`");
}

std::expected<Point, MethodError> element_center(Browser& browser, Tab& tab, const ElementHandle& element,
                                                 std::optional<double> offset_x, std::optional<double> offset_y) {
  auto spot = element_spot(browser, tab, element, offset_x, offset_y);
  if (!spot) return std::unexpected(spot.error());
  return spot->point;
}

std::expected<ActionOutcome, MethodError> click_element(Browser& browser, Tab& tab, const ElementHandle& element) {
  auto point = element_center(browser, tab, element);
  if (!point) return std::unexpected(point.error());
  return click_at(browser, tab, *point);
}

std::unique_ptr<LoadWatch> watch_if_waiting(Browser& browser, Tab& tab, const Json& params) {
  if (!option_flag(params, "waitNav")) return nullptr;
  return std::make_unique<LoadWatch>(browser.watch_loads(tab));
}

MethodResult handle_dialog(Browser& browser, Tab& tab, bool accept,
                           const std::optional<std::string>& prompt_text) {
  auto dialog = browser.open_dialog(tab);
  if (!dialog) {
    return method_error("noDialog", "no JavaScript dialog is open in tab " + tab.id +
                                        "; nothing to accept or dismiss");
  }
  Json params = {{"accept", accept}};
  if (prompt_text) params["promptText"] = *prompt_text;
  const std::string session = tab.session_id;
  auto closed = browser.client().subscribe([session](const CdpEvent& event) {
    return event.session_id == session && event.method == "Page.javascriptDialogClosed";
  });
  auto handled = browser.call(tab, "Page.handleJavaScriptDialog", params, kCommandTimeout, false);
  if (!handled) return std::unexpected(from_cdp(handled.error(), "failed to answer the dialog"));
  // Until the closing event arrives the tab still counts as blocked; wait for it so the
  // next command does not see a dialog that is already gone.
  closed->wait_for([](const CdpEvent&) { return true; }, deadline_in(std::chrono::seconds(5)));
  Json report = dialog_report(*dialog);
  report["handled"] = accept ? "accepted" : "dismissed";
  if (prompt_text && accept) report["promptText"] = *prompt_text;
  return report;
}

MethodResult finish_action(Browser& browser, Tab& tab, const Json& params, Json result,
                           const ActionOutcome& outcome, LoadWatch* watch, ActionEffects* effects) {
  std::optional<Json> dialog = outcome.dialog;
  if (!dialog) dialog = browser.open_dialog(tab);
  if (dialog) {
    auto action = option_string(params, "dialogAction");
    if (action && (*action == "accept" || *action == "dismiss")) {
      auto handled = handle_dialog(browser, tab, *action == "accept", option_string(params, "dialogText"));
      if (!handled) return handled;
      result["dialog"] = *handled;
    } else {
      Json report = dialog_report(*dialog);
      report["handled"] = false;
      result["dialog"] = report;
      result["note"] = "the action opened a JavaScript " + report["type"].get<std::string>() +
                       " dialog that now blocks the page; answer it with `vesk dialog accept` or `vesk "
                       "dialog dismiss`, or repeat the action with a dialog action";
      return result;  // the page is blocked: nothing more can be read from it
    }
  }
  if (effects != nullptr) effects->add_to(result, watch != nullptr);
  if (watch != nullptr) {
    LoadOutcome load = watch->wait_for_navigation(deadline_in(std::chrono::seconds(5)),
                                                  deadline_in(kLoadTimeout));
    result["navigated"] = load.navigated;
    if (load.navigated) result["loaded"] = load.loaded;
    if (load.dialog) {
      Json report = dialog_report(*load.dialog);
      report["handled"] = false;
      result["dialog"] = report;
      return result;
    }
  }
  if (watch != nullptr || option_flag(params, "text")) {
    auto facts = evaluate(browser, tab, option_flag(params, "text")
                                             ? "({url: location.href, title: document.title, text: document.body ? document.body.innerText : ''})"
                                             : "({url: location.href, title: document.title})");
    if (facts && facts->is_object()) {
      for (auto& [key, value] : facts->items()) result[key] = value;
    }
  }
  return result;
}

std::expected<ClickReach, MethodError> ensure_click_reaches(Browser& browser, Tab& tab, const ElementHandle& element,
                                                            const ElementSpot& spot) {
  // The page script tests in the element's own frame, whose viewport starts elsewhere than
  // the page's: it gets the point relative to the element's bounding box, which both agree on.
  const Point point = spot.point;
  auto reach = call_on_element(browser, tab, element, with_element_facts(js::hit_test),
                               Json{point.x - spot.box_origin.x, point.y - spot.box_origin.y});
  if (!reach) return std::unexpected(reach.error());
  ClickReach out{reach->value("download", false)};
  if (reach->value("reaches", true)) return out;
  const Json covering = reach->value("covering", Json::object());
  std::string what = covering.value("role", "element");
  if (const std::string name = covering.value("name", ""); !name.empty()) what += " \"" + name + "\"";
  return method_error("elementCovered",
                      "element " + element.target + " is covered by " + what + " (" + covering.value("selector", "") +
                          ") where a click would land, so the click would go to it; close or remove it first "
                          "(a banner's close button, `vesk press Escape`), then try again",
                      Json{{"covering", covering}, {"x", point.x}, {"y", point.y}});
}

}  // namespace vesk::browser
