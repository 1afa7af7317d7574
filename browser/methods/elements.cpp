// Element methods. Actions: "element.click", "element.dblclick", "element.hover",
// "element.focus", "element.fill", "element.type", "element.select", "element.check",
// "element.uncheck", "element.scrollintoview". Queries: "element.value", "element.attr",
// "element.count", "element.box", "element.visible", "element.enabled", "element.checked".
//
// The element is "selector" when given, otherwise the first word of "args"; the other
// words are the method's values (the text to fill, the options to select, ...). Either
// form may be a snapshot ref ("e3") or a CSS selector.
#include <algorithm>
#include <cmath>
#include <map>

#include "browser/js/page_scripts.hpp"
#include "browser/methods/actions.hpp"
#include "browser/core/element_lookup.hpp"
#include "browser/methods/keyboard.hpp"
#include "browser/core/method_table.hpp"
#include "browser/core/page_script.hpp"

namespace vesk::browser {

namespace {

struct ElementCall {
  Tab* tab = nullptr;
  ElementHandle element;
  std::vector<std::string> values;  // the words after the element
};

std::expected<ElementCall, MethodError> element_call(Browser& browser, Tab& tab, const Json& params,
                                                     const std::string& method) {
  auto words = words_of(params);
  std::optional<std::string> target = string_member(params, "selector");
  if (!target) {
    if (words.empty()) {
      return invalid_argument(method + " needs an element: a ref such as e3 from `vesk snap -i`, or a CSS selector");
    }
    target = words.front();
    words.erase(words.begin());
  }
  auto element = find_element(browser, tab, *target);
  if (!element) return std::unexpected(element.error());
  return ElementCall{&tab, std::move(*element), std::move(words)};
}


MethodResult run_on_element(Browser& browser, ElementCall& call, const std::string& source,
                            const Json& arguments = Json::array()) {
  return call_on_element(browser, *call.tab, call.element, source, arguments);
}

// Refuses the words after the element that a method does not take (`vesk click e3 e4`
// must not click e3 and drop e4), before anything is done.
std::expected<void, MethodError> refuse_extra_words(const ElementCall& call, const std::string& method,
                                                    std::size_t allowed, const std::string& takes) {
  if (call.values.size() <= allowed) return {};
  return invalid_argument(method + " takes " + takes + "; the word \"" + call.values[allowed] +
                          "\" is not one of them (one element per command: run a command for each)");
}

MethodResult click_element(Browser& browser, Tab& tab, const Json& params, int click_count, const std::string& method) {
  auto call = element_call(browser, tab, params, method);
  if (!call) return std::unexpected(call.error());
  const std::string takes = "the element and optionally a button: left, right or middle";
  if (auto checked = refuse_extra_words(*call, method, 1, takes); !checked) return std::unexpected(checked.error());
  std::string button = call->values.empty() ? "left" : call->values.front();
  if (button != "left" && button != "right" && button != "middle") {
    return invalid_argument(method + " takes " + takes + ", not \"" + button + "\"");
  }
  auto spot = element_spot(browser, *call->tab, call->element, option_number(params, "x"), option_number(params, "y"));
  if (!spot) return std::unexpected(spot.error());
  const Point& point = spot->point;
  auto reach = ensure_click_reaches(browser, *call->tab, call->element, *spot);
  if (!reach) return std::unexpected(reach.error());
  auto watch = watch_if_waiting(browser, *call->tab, params);
  ActionEffects effects(browser, *call->tab);
  if (reach->download_link) effects.expect_download();
  auto clicked = click_at(browser, *call->tab, point, click_count, button);
  if (!clicked) return std::unexpected(clicked.error());
  Json result = {{click_count == 2 ? "dblclicked" : "clicked", call->element.target},
                 {"tab", call->tab->id},
                 {"x", point.x},
                 {"y", point.y}};
  return finish_action(browser, *call->tab, params, std::move(result), *clicked, watch.get(), &effects);
}

MethodResult hover(Browser& browser, Tab& tab, const Json& params) {
  auto call = element_call(browser, tab, params, "element.hover");
  if (!call) return std::unexpected(call.error());
  if (auto checked = refuse_extra_words(*call, "element.hover", 0, "only the element"); !checked) {
    return std::unexpected(checked.error());
  }
  auto spot = element_spot(browser, *call->tab, call->element);
  if (!spot) return std::unexpected(spot.error());
  const Point& point = spot->point;
  auto reach = ensure_click_reaches(browser, *call->tab, call->element, *spot);
  if (!reach) return std::unexpected(reach.error());
  auto moved = mouse_event(browser, *call->tab, "mouseMoved", point);
  if (!moved) return std::unexpected(moved.error());
  return finish_action(browser, *call->tab, params, {{"hovered", call->element.target}, {"x", point.x}, {"y", point.y}},
                       *moved, nullptr);
}

MethodResult focus(Browser& browser, Tab& tab, const Json& params) {
  auto call = element_call(browser, tab, params, "element.focus");
  if (!call) return std::unexpected(call.error());
  if (auto checked = refuse_extra_words(*call, "element.focus", 0, "only the element"); !checked) {
    return std::unexpected(checked.error());
  }
  auto focused = element_command(browser, *call->tab, call->element, "DOM.focus", node_params(call->element));
  if (!focused) {
    if (focused.error().kind == CdpFailureKind::Protocol) {
      return method_error("actionFailed", "element " + call->element.target +
                                              " cannot take the focus (" + focused.error().message + ")");
    }
    return std::unexpected(from_cdp(focused.error(), "failed to focus " + call->element.target));
  }
  return Json{{"focused", call->element.target}};
}

MethodResult scroll_into_view(Browser& browser, Tab& tab, const Json& params) {
  auto call = element_call(browser, tab, params, "element.scrollintoview");
  if (!call) return std::unexpected(call.error());
  if (auto checked = refuse_extra_words(*call, "element.scrollintoview", 0, "only the element"); !checked) {
    return std::unexpected(checked.error());
  }
  auto scrolled = run_on_element(browser, *call, "function() { this.scrollIntoView({block: 'center', inline: 'center'}); }");
  if (!scrolled) return std::unexpected(scrolled.error());
  return Json{{"scrolled", call->element.target}};
}

// What an input whose value has a fixed form accepts, for the message when a value does
// not take; nullopt for the other inputs. Typing into these is unreliable (Chromium edits
// a date field by field), so fill sets their value as a picker does.
const std::map<std::string, std::string, std::less<>>& value_forms() {
  static const std::map<std::string, std::string, std::less<>> forms = {
      {"date", "a date as YYYY-MM-DD (2027-03-15)"},
      {"time", "a time as HH:MM or HH:MM:SS, 24-hour (14:30)"},
      {"datetime-local", "a date and time as YYYY-MM-DDTHH:MM (2027-03-15T14:30)"},
      {"month", "a month as YYYY-MM (2027-03)"},
      {"week", "a week as YYYY-Www (2027-W11)"},
      {"color", "a colour as #rrggbb (#ff8800)"},
      {"range", "a number"},
      {"number", "a number"}};
  return forms;
}

std::optional<std::string> value_form(const std::string& type) {
  auto form = value_forms().find(type);
  if (form == value_forms().end()) return std::nullopt;
  return form->second;
}

// The input types fill sets as a picker does, as the argument list of the page script that
// prepares a field (built once).
const Json& prepare_for_text_arguments() {
  static const Json arguments = [] {
    Json types = Json::array();
    for (const auto& [type, form] : value_forms()) types.push_back(type);
    Json list = Json::array();
    list.push_back(std::move(types));
    return list;
  }();
  return arguments;
}

MethodResult fill_value_form(Browser& browser, Tab& tab, ElementCall& call, const Json& params,
                             const std::string& type, const std::string& form, const std::string& text) {
  auto filled = run_on_element(browser, call, std::string(js::fill_value), Json{text});
  if (!filled) return std::unexpected(filled.error());
  if (!filled->value("took", false)) {
    std::string accepts = form;
    const std::string min = filled->value("min", ""), max = filled->value("max", ""), step = filled->value("step", "");
    if (!min.empty() && !max.empty()) accepts += " from " + min + " to " + max;
    if (!step.empty() && step != "any") accepts += " in steps of " + step;
    const std::string became = filled->value("became", "");
    return invalid_argument("the " + type + " input " + call.element.target + " does not take \"" + text + "\"" +
                            (became.empty() ? std::string() : " (it would become \"" + became + "\")") +
                            "; it takes " + accepts + "; its value is unchanged");
  }
  Json result = {{"filled", call.element.target}, {"value", filled->value("value", "")}};
  return finish_action(browser, tab, params, std::move(result), ActionOutcome{}, nullptr);
}

MethodResult fill(Browser& browser, Tab& tab, const Json& params) {
  auto call = element_call(browser, tab, params, "element.fill");
  if (!call) return std::unexpected(call.error());
  const std::string text = joined(call->values);
  // One round trip: the script leaves an input of a fixed value form untouched and names
  // its type, and prepares any other field for the text.
  auto prepared = run_on_element(browser, *call, std::string(js::prepare_for_text), prepare_for_text_arguments());
  if (!prepared) return std::unexpected(prepared.error());
  if (const std::string type = prepared->value("valueForm", ""); !type.empty()) {
    if (auto form = value_form(type)) return fill_value_form(browser, tab, *call, params, type, *form, text);
  }
  if (!prepared->value("ok", false)) {
    return invalid_argument("element " + call->element.target + " is a <" + prepared->value("tag", "") +
                            "> that takes no text; fill a text field, or use click, check or select");
  }
  if (text.empty()) {
    auto cleared = browser.call(tab, "Input.dispatchKeyEvent",
                                {{"type", "rawKeyDown"}, {"key", "Delete"}, {"code", "Delete"}, {"windowsVirtualKeyCode", 46}});
    if (cleared) browser.call(tab, "Input.dispatchKeyEvent", {{"type", "keyUp"}, {"key", "Delete"}, {"code", "Delete"}, {"windowsVirtualKeyCode", 46}});
  } else {
    auto inserted = browser.call(tab, "Input.insertText", {{"text", text}});
    if (!inserted && inserted.error().kind != CdpFailureKind::DialogOpen) {
      return std::unexpected(from_cdp(inserted.error(), "failed to fill " + call->element.target));
    }
  }
  auto value = run_on_element(browser, *call,
                              "function() { this.dispatchEvent(new Event('change', {bubbles: true})); "
                              "return this.value !== undefined ? this.value : this.innerText; }");
  Json result = {{"filled", call->element.target}};
  if (value) result["value"] = *value;
  return finish_action(browser, tab, params, std::move(result), ActionOutcome{}, nullptr);
}

MethodResult type(Browser& browser, Tab& tab, const Json& params) {
  auto call = element_call(browser, tab, params, "element.type");
  if (!call) return std::unexpected(call.error());
  std::string text = joined(call->values);
  if (text.empty()) return invalid_argument("element.type needs the text to type after the element");
  auto focused = run_on_element(browser, *call, std::string(js::caret_to_end));
  if (!focused) return std::unexpected(focused.error());
  auto watch = watch_if_waiting(browser, *call->tab, params);
  auto typed = type_text(browser, *call->tab, text);
  if (!typed) return std::unexpected(typed.error());
  Json result = {{"typed", text}, {"element", call->element.target}};
  return finish_action(browser, *call->tab, params, std::move(result), *typed, watch.get());
}

MethodResult select(Browser& browser, Tab& tab, const Json& params) {
  auto call = element_call(browser, tab, params, "element.select");
  if (!call) return std::unexpected(call.error());
  if (call->values.empty()) return invalid_argument("element.select needs the option(s) to select after the element");
  static const std::string source(js::select_options);
  auto outcome = run_on_element(browser, *call, source, Json{call->values});
  if (!outcome) return std::unexpected(outcome.error());
  const std::string error = outcome->value("error", "");
  if (error == "notSelect") {
    return invalid_argument("element " + call->element.target + " is a <" + outcome->value("tag", "") +
                            ">, not a <select>; click it to open custom drop-downs instead");
  }
  if (error == "noOption") {
    return method_error("elementNotFound", "no option of " + call->element.target + " matches \"" + joined(call->values) +
                                               "\"; its options are " + (*outcome)["options"].dump(),
                        Json{{"options", (*outcome)["options"]}});
  }
  Json result = {{"selected", (*outcome)["selected"]}, {"element", call->element.target}};
  return finish_action(browser, *call->tab, params, std::move(result), ActionOutcome{}, nullptr);
}

constexpr const char* kCheckedState =
    "function() { if (this.checked !== undefined && (this.type === 'checkbox' || this.type === 'radio')) return this.checked;"
    " const aria = this.getAttribute('aria-checked'); return aria === null ? null : aria === 'true'; }";

MethodResult set_checked(Browser& browser, Tab& tab, const Json& params, bool wanted) {
  const std::string method = wanted ? "element.check" : "element.uncheck";
  auto call = element_call(browser, tab, params, method);
  if (!call) return std::unexpected(call.error());
  if (auto checked = refuse_extra_words(*call, method, 0, "only the element"); !checked) {
    return std::unexpected(checked.error());
  }
  auto state = run_on_element(browser, *call, kCheckedState);
  if (!state) return std::unexpected(state.error());
  if (state->is_null()) {
    return invalid_argument("element " + call->element.target + " is not a checkbox, radio button or switch");
  }
  ActionOutcome outcome;
  if (state->get<bool>() != wanted) {
    auto point = element_center(browser, *call->tab, call->element);
    if (point) {
      auto clicked = click_at(browser, *call->tab, *point);
      if (!clicked) return std::unexpected(clicked.error());
      outcome = *clicked;
    }
    if (!outcome.dialog) {
      state = run_on_element(browser, *call, kCheckedState);
      if (state && state->is_boolean() && state->get<bool>() != wanted) {
        // Styled checkboxes hide the input under a label: toggle it directly.
        run_on_element(browser, *call, "function() { this.click(); }");
        state = run_on_element(browser, *call, kCheckedState);
      }
      if (!state) return std::unexpected(state.error());
      if (!state->is_boolean() || state->get<bool>() != wanted) {
        return method_error("actionFailed", "clicking " + call->element.target + " did not " +
                                                (wanted ? "check" : "uncheck") + " it; the page may prevent it");
      }
    }
  }
  Json result = {{"element", call->element.target}, {"checked", wanted}};
  return finish_action(browser, *call->tab, params, std::move(result), outcome, nullptr);
}

// A query answers {"<key>": value, "element": target}.
TabHandler query(const std::string& method, const std::string& key, const std::string& source) {
  return [method, key, source](Browser& browser, Tab& tab, const Json& params) -> MethodResult {
    auto call = element_call(browser, tab, params, method);
    if (!call) return std::unexpected(call.error());
    if (auto checked = refuse_extra_words(*call, method, 0, "only the element"); !checked) {
      return std::unexpected(checked.error());
    }
    auto value = run_on_element(browser, *call, source, Json(call->values));
    if (!value) return std::unexpected(value.error());
    return Json{{key, *value}, {"element", call->element.target}};
  };
}

MethodResult count(Browser& browser, Tab& tab, const Json& params) {
  auto target = string_member(params, "selector");
  if (!target) target = joined_words(params);
  if (target->empty()) return invalid_argument("element.count needs a CSS selector");
  auto counted = count_elements(browser, tab, *target);
  if (!counted) return std::unexpected(counted.error());
  return Json{{"count", *counted}, {"selector", *target}};
}

MethodResult attr(Browser& browser, Tab& tab, const Json& params) {
  auto call = element_call(browser, tab, params, "element.attr");
  if (!call) return std::unexpected(call.error());
  if (call->values.empty()) return invalid_argument("element.attr needs an attribute name after the element");
  if (auto checked = refuse_extra_words(*call, "element.attr", 1, "the element and one attribute name"); !checked) {
    return std::unexpected(checked.error());
  }
  auto value = run_on_element(browser, *call, "function(name) { return this.getAttribute(name); }",
                              Json{call->values.front()});
  if (!value) return std::unexpected(value.error());
  return Json{{"attribute", call->values.front()}, {"value", *value}, {"element", call->element.target}};
}

// The element's border box in page coordinates (the main viewport's), also for an element
// inside a frame; all zero for an element without a box, as the page itself reports it.
MethodResult box(Browser& browser, Tab& tab, const Json& params) {
  auto call = element_call(browser, tab, params, "element.box");
  if (!call) return std::unexpected(call.error());
  auto quads = element_command(browser, *call->tab, call->element, "DOM.getContentQuads",
                               node_params(call->element));
  if (!quads && quads.error().kind != CdpFailureKind::Protocol) {
    return std::unexpected(from_cdp(quads.error(), "failed to locate " + call->element.target));
  }
  double left = 0, top = 0, right = 0, bottom = 0;
  bool any = false;
  for (const auto& quad : quads ? quads->value("quads", Json::array()) : Json::array()) {
    for (std::size_t i = 0; quad.is_array() && i + 1 < quad.size(); i += 2) {
      const double x = quad[i].get<double>() + call->element.frame_x;
      const double y = quad[i + 1].get<double>() + call->element.frame_y;
      left = any ? std::min(left, x) : x;
      right = any ? std::max(right, x) : x;
      top = any ? std::min(top, y) : y;
      bottom = any ? std::max(bottom, y) : y;
      any = true;
    }
  }
  return Json{{"box", {{"x", left}, {"y", top}, {"width", right - left}, {"height", bottom - top}}},
              {"element", call->element.target}};
}

}  // namespace

void add_element_methods(MethodTable& table) {
  table["element.click"] = tab_method([](Browser& b, Tab& t, const Json& p) { return click_element(b, t, p, 1, "element.click"); });
  table["element.dblclick"] = tab_method([](Browser& b, Tab& t, const Json& p) { return click_element(b, t, p, 2, "element.dblclick"); });
  table["element.hover"] = tab_method(hover);
  table["element.focus"] = tab_method(focus);
  table["element.scrollintoview"] = tab_method(scroll_into_view);
  table["element.fill"] = tab_method(fill);
  table["element.type"] = tab_method(type);
  table["element.select"] = tab_method(select);
  table["element.check"] = tab_method([](Browser& b, Tab& t, const Json& p) { return set_checked(b, t, p, true); });
  table["element.uncheck"] = tab_method([](Browser& b, Tab& t, const Json& p) { return set_checked(b, t, p, false); });
  table["element.count"] = tab_method(count);
  table["element.attr"] = tab_method(attr);
  table["element.value"] = tab_method(query("element.value", "value",
                                 "function() { return this.value !== undefined ? this.value : this.textContent; }"));
  table["element.box"] = tab_method(box);
  table["element.visible"] = tab_method(query("element.visible", "visible",
                                   "function() { const r = this.getBoundingClientRect(); "
                                   "return r.width > 0 && r.height > 0 && this.checkVisibility({visibilityProperty: true, opacityProperty: true}); }"));
  table["element.enabled"] = tab_method(query("element.enabled", "enabled",
                                   "function() { return !this.matches(':disabled') && this.getAttribute('aria-disabled') !== 'true'; }"));
  table["element.checked"] = tab_method(query("element.checked", "checked", kCheckedState));
}

}  // namespace vesk::browser
