#include "browser/core/element_lookup.hpp"

#include <algorithm>
#include <cctype>

#include "browser/core/page_script.hpp"
#include "browser/js/page_scripts.hpp"

namespace vesk::browser {

namespace {

std::unexpected<MethodError> stale_ref(const std::string& ref) {
  return method_error("staleRef", "ref " + ref +
                                      " no longer names an element on this page (the page changed "
                                      "or navigated); take a new snapshot with `vesk snap -i` and "
                                      "use the refs it lists");
}

// A ref no snapshot of this tab ever gave: a typo, or a ref from another tab.
std::unexpected<MethodError> unknown_ref(const Tab& tab, const std::string& ref) {
  return method_error("elementNotFound", "no snapshot of tab " + tab.id + " had the ref " + ref +
                                             "; take one with `vesk snap -i` and use the refs it lists");
}

std::unexpected<MethodError> not_found(const std::string& selector) {
  return method_error("elementNotFound",
                      "no element matches \"" + selector +
                          "\"; check the selector, wait for the element with `vesk wait " +
                          selector + "`, or take a snapshot with `vesk snap -i` to pick a ref");
}

std::expected<ElementHandle, MethodError> find_by_ref(Browser& browser, Tab& tab,
                                                      const std::string& ref) {
  auto node = tab.snapshot.node_of_ref.find(ref);
  if (node == tab.snapshot.node_of_ref.end()) {
    const std::string digits = ref.substr(1);
    if (digits.size() > 9 || std::stoi(digits) > tab.snapshot.highest_ref_on_tab) return unknown_ref(tab, ref);
    return stale_ref(ref);
  }
  auto key = document_key(browser, tab);
  if (!key) return std::unexpected(key.error());
  if (*key != tab.snapshot.document_key) return stale_ref(ref);
  auto resolved = browser.call(tab, "DOM.resolveNode", {{"backendNodeId", node->second}});
  if (!resolved) {
    if (resolved.error().kind == CdpFailureKind::Protocol) return stale_ref(ref);
    return std::unexpected(from_cdp(resolved.error(), "failed to find " + ref));
  }
  std::string object_id = resolved->value("object", Json::object()).value("objectId", "");
  auto connected = call_on_object(browser, tab, object_id, "function() { return this.isConnected; }");
  if (!connected) return std::unexpected(connected.error());
  if (!connected->is_boolean() || !connected->get<bool>()) return stale_ref(ref);
  return ElementHandle{object_id, node->second, ref};
}

std::expected<ElementHandle, MethodError> find_by_selector(Browser& browser, Tab& tab,
                                                           const std::string& selector) {
  auto reply = browser.call(tab, "Runtime.evaluate",
                            {{"expression", "document.querySelector(" + js_string(selector) + ")"},
                             {"returnByValue", false}});
  if (!reply) return std::unexpected(from_cdp(reply.error(), "failed to find " + selector));
  if (reply->contains("exceptionDetails")) {
    return invalid_argument("\"" + selector + "\" is not a valid CSS selector or snapshot ref (" +
                            exception_text((*reply)["exceptionDetails"]) +
                            "); use a ref such as e3 from `vesk snap -i` or a CSS selector");
  }
  const Json object = reply->value("result", Json::object());
  if (!object.contains("objectId")) return not_found(selector);
  std::string object_id = object["objectId"].get<std::string>();
  auto described = browser.call(tab, "DOM.describeNode", {{"objectId", object_id}});
  if (!described) return std::unexpected(from_cdp(described.error(), "failed to inspect " + selector));
  auto backend = described->value("node", Json::object()).value("backendNodeId", std::int64_t{0});
  return ElementHandle{object_id, backend, selector};
}

// The locate page script applied to `locator`, its answer passed through `pick` (a
// JavaScript function of {elements}); a locator it cannot read answers its error text.
std::string locator_expression(const std::string& locator, const std::string& pick) {
  return "((r) => r.error !== undefined ? r.error : (" + pick + ")(r))((" + with_element_facts(js::locate) +
         ").call(undefined, " + js_string(locator) + "))";
}

std::unexpected<MethodError> bad_locator(const std::string& locator, const std::string& why) {
  return invalid_argument("cannot read the locator \"" + locator + "\": " + why +
                          "; write text=Sign in, text=\"Sign in\" (exact) or role=button[name=\"Sign in\"]");
}

// A text= or role= locator: the first element it names, in document order.
std::expected<ElementHandle, MethodError> find_by_locator(Browser& browser, Tab& tab, const std::string& locator) {
  auto reply = browser.call(tab, "Runtime.evaluate",
                            {{"expression", locator_expression(locator, "(r) => r.elements[0] || null")},
                             {"returnByValue", false}});
  if (!reply) return std::unexpected(from_cdp(reply.error(), "failed to find " + locator));
  if (reply->contains("exceptionDetails")) {
    return bad_locator(locator, exception_text((*reply)["exceptionDetails"]));
  }
  const Json object = reply->value("result", Json::object());
  if (object.value("type", "") == "string") return bad_locator(locator, object.value("value", ""));
  if (!object.contains("objectId")) return not_found(locator);
  std::string object_id = object["objectId"].get<std::string>();
  auto described = browser.call(tab, "DOM.describeNode", {{"objectId", object_id}});
  if (!described) return std::unexpected(from_cdp(described.error(), "failed to inspect " + locator));
  auto backend = described->value("node", Json::object()).value("backendNodeId", std::int64_t{0});
  return ElementHandle{object_id, backend, locator};
}

}  // namespace

bool is_locator(const std::string& target) { return target.starts_with("text=") || target.starts_with("role="); }

bool is_ref(const std::string& target) {
  return target.size() >= 2 && target[0] == 'e' &&
         std::all_of(target.begin() + 1, target.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; });
}

std::expected<std::string, MethodError> document_key(Browser& browser, Tab& tab) {
  auto tree = browser.call(tab, "Page.getFrameTree", Json::object());
  if (!tree) return std::unexpected(from_cdp(tree.error(), "failed to read the page's frames"));
  return tree->value("frameTree", Json::object()).value("frame", Json::object()).value("loaderId", "");
}

std::expected<ElementHandle, MethodError> find_element(Browser& browser, Tab& tab,
                                                       const std::string& target) {
  std::string trimmed = target;
  if (trimmed.starts_with("@")) trimmed.erase(0, 1);  // "@e3" as some agents write refs
  if (is_ref(trimmed)) return find_by_ref(browser, tab, trimmed);
  if (target.empty()) return invalid_argument("an element selector or snapshot ref is needed");
  if (is_locator(target)) return find_by_locator(browser, tab, target);
  return find_by_selector(browser, tab, target);
}

std::expected<std::int64_t, MethodError> count_elements(Browser& browser, Tab& tab,
                                                        const std::string& target) {
  std::string trimmed = target.starts_with("@") ? target.substr(1) : target;
  if (is_ref(trimmed)) {
    auto element = find_by_ref(browser, tab, trimmed);
    if (element) return 1;
    if (element.error().code == "staleRef" || element.error().code == "elementNotFound") return 0;
    return std::unexpected(element.error());
  }
  if (is_locator(target)) {
    auto count = evaluate(browser, tab, locator_expression(target, "(r) => r.elements.length"));
    if (!count) {
      if (count.error().code == "evaluationFailed") return bad_locator(target, count.error().message);
      return std::unexpected(count.error());
    }
    if (count->is_string()) return bad_locator(target, count->get<std::string>());
    return count->is_number() ? count->get<std::int64_t>() : 0;
  }
  auto count = evaluate(browser, tab, "document.querySelectorAll(" + js_string(target) + ").length");
  if (!count) {
    if (count.error().code == "evaluationFailed") {
      return invalid_argument("\"" + target + "\" is not a valid CSS selector: " + count.error().message);
    }
    return std::unexpected(count.error());
  }
  return count->is_number() ? count->get<std::int64_t>() : 0;
}

}  // namespace vesk::browser
