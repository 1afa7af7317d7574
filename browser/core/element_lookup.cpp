#include "browser/core/element_lookup.hpp"

#include <algorithm>
#include <cctype>

#include "browser/core/page_script.hpp"

namespace vesk::browser {

namespace {

std::unexpected<MethodError> stale_ref(const std::string& ref) {
  return method_error("staleRef", "ref " + ref +
                                      " no longer names an element on this page (the page changed "
                                      "or navigated); take a new snapshot with `vesk snap -i` and "
                                      "use the refs it lists");
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
  if (node == tab.snapshot.node_of_ref.end()) return stale_ref(ref);
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

}  // namespace

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
  return find_by_selector(browser, tab, target);
}

std::expected<std::int64_t, MethodError> count_elements(Browser& browser, Tab& tab,
                                                        const std::string& target) {
  std::string trimmed = target.starts_with("@") ? target.substr(1) : target;
  if (is_ref(trimmed)) {
    auto element = find_by_ref(browser, tab, trimmed);
    if (element) return 1;
    if (element.error().code == "staleRef") return 0;
    return std::unexpected(element.error());
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
