// Element methods. Actions: "element.click", "element.dblclick", "element.hover",
// "element.focus", "element.fill", "element.type", "element.select", "element.check",
// "element.uncheck", "element.scrollintoview". Queries: "element.value", "element.attr",
// "element.count", "element.box", "element.visible", "element.enabled", "element.checked".
//
// The element is "selector" when given, otherwise the first word of "args"; the other
// words are the method's values (the text to fill, the options to select, ...). Either
// form may be a snapshot ref ("e3") or a CSS selector.
#include <cmath>

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

std::string joined(const std::vector<std::string>& words) {
  std::string out;
  for (const auto& w : words) {
    if (!out.empty()) out += ' ';
    out += w;
  }
  return out;
}

MethodResult run_on_element(Browser& browser, ElementCall& call, const std::string& source,
                            const Json& arguments = Json::array()) {
  return call_on_object(browser, *call.tab, call.element.object_id, source, arguments);
}

MethodResult click_element(Browser& browser, Tab& tab, const Json& params, int click_count, const std::string& method) {
  auto call = element_call(browser, tab, params, method);
  if (!call) return std::unexpected(call.error());
  auto point = element_center(browser, *call->tab, call->element, option_number(params, "x"), option_number(params, "y"));
  if (!point) return std::unexpected(point.error());
  auto watch = watch_if_waiting(browser, *call->tab, params);
  std::string button = "left";
  if (!call->values.empty() && (call->values.front() == "right" || call->values.front() == "middle")) {
    button = call->values.front();
  }
  auto clicked = click_at(browser, *call->tab, *point, click_count, button);
  if (!clicked) return std::unexpected(clicked.error());
  Json result = {{click_count == 2 ? "dblclicked" : "clicked", call->element.target},
                 {"tab", call->tab->id},
                 {"x", point->x},
                 {"y", point->y}};
  return finish_action(browser, *call->tab, params, std::move(result), *clicked, watch.get());
}

MethodResult hover(Browser& browser, Tab& tab, const Json& params) {
  auto call = element_call(browser, tab, params, "element.hover");
  if (!call) return std::unexpected(call.error());
  auto point = element_center(browser, *call->tab, call->element);
  if (!point) return std::unexpected(point.error());
  auto moved = mouse_event(browser, *call->tab, "mouseMoved", *point);
  if (!moved) return std::unexpected(moved.error());
  return finish_action(browser, *call->tab, params, {{"hovered", call->element.target}, {"x", point->x}, {"y", point->y}},
                       *moved, nullptr);
}

MethodResult focus(Browser& browser, Tab& tab, const Json& params) {
  auto call = element_call(browser, tab, params, "element.focus");
  if (!call) return std::unexpected(call.error());
  auto focused = browser.call(*call->tab, "DOM.focus", {{"backendNodeId", call->element.backend_node_id}});
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
  auto scrolled = run_on_element(browser, *call, "function() { this.scrollIntoView({block: 'center', inline: 'center'}); }");
  if (!scrolled) return std::unexpected(scrolled.error());
  return Json{{"scrolled", call->element.target}};
}

MethodResult fill(Browser& browser, Tab& tab, const Json& params) {
  auto call = element_call(browser, tab, params, "element.fill");
  if (!call) return std::unexpected(call.error());
  const std::string text = joined(call->values);
  auto prepared = run_on_element(browser, *call, std::string(js::prepare_for_text));
  if (!prepared) return std::unexpected(prepared.error());
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
  auto focused = run_on_element(browser, *call, "function() { this.focus(); return document.activeElement === this; }");
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
  auto value = run_on_element(browser, *call, "function(name) { return this.getAttribute(name); }",
                              Json{call->values.front()});
  if (!value) return std::unexpected(value.error());
  return Json{{"attribute", call->values.front()}, {"value", *value}, {"element", call->element.target}};
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
  table["element.box"] = tab_method(query("element.box", "box",
                               "function() { const r = this.getBoundingClientRect(); "
                               "return {x: r.x, y: r.y, width: r.width, height: r.height}; }"));
  table["element.visible"] = tab_method(query("element.visible", "visible",
                                   "function() { const r = this.getBoundingClientRect(); "
                                   "return r.width > 0 && r.height > 0 && this.checkVisibility({visibilityProperty: true, opacityProperty: true}); }"));
  table["element.enabled"] = tab_method(query("element.enabled", "enabled",
                                   "function() { return !this.matches(':disabled') && this.getAttribute('aria-disabled') !== 'true'; }"));
  table["element.checked"] = tab_method(query("element.checked", "checked", kCheckedState));
}

}  // namespace vesk::browser
