#include "browser/core/element_lookup.hpp"

#include "browser/core/frames.hpp"
#include "browser/core/page_script.hpp"
#include "browser/js/page_scripts.hpp"

namespace vesk::browser {

namespace {

std::string deep_query(const std::string& selector, bool count) {
  return "(" + std::string(js::deep_query) + ")(" + js_string(selector) + ", " + (count ? "true" : "false") + ")";
}

std::unexpected<MethodError> stale_ref(const std::string& ref, const std::string& why) {
  return method_error("staleRef", "ref " + ref + " no longer names an element on this page (" + why +
                                      "); take a new snapshot with `vesk snap -i` and use the refs it lists");
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

// Whether no snapshot of the frame gave the ref "e<n>" yet (numbering never restarts in a frame).
bool never_given(const SnapshotState& state, const std::string& element_ref) {
  return element_ref.size() > 10 || std::stoi(element_ref.substr(1)) >= state.next_ref;
}

// The element a ref names in `frame`, whose refs are `state`.
std::expected<ElementHandle, MethodError> resolve_ref(Browser& browser, Tab& tab, const std::string& ref,
                                                      const std::string& element_ref, const std::string& session_id,
                                                      const SnapshotState& state) {
  auto node = state.node_of_ref.find(element_ref);
  if (node == state.node_of_ref.end()) {
    if (never_given(state, element_ref)) return unknown_ref(tab, ref);
    return stale_ref(ref, "the page changed or navigated");
  }
  auto resolved = browser.call_in(tab, session_id, "DOM.resolveNode", {{"backendNodeId", node->second}});
  if (!resolved) {
    if (resolved.error().kind == CdpFailureKind::Protocol) return stale_ref(ref, "its element was removed");
    return std::unexpected(from_cdp(resolved.error(), "failed to find " + ref));
  }
  std::string object_id = resolved->value("object", Json::object()).value("objectId", "");
  auto connected = call_on_object_in(browser, tab, session_id, object_id, "function() { return this.isConnected; }");
  if (!connected) return std::unexpected(connected.error());
  if (!connected->is_boolean() || !connected->get<bool>()) return stale_ref(ref, "its element was removed");
  ElementHandle handle{object_id, node->second, ref, session_id};
  return handle;
}

std::expected<ElementHandle, MethodError> find_by_ref(Browser& browser, Tab& tab, const std::string& ref,
                                                      const RefName& name) {
  if (name.frame == 0) {
    auto key = document_key(browser, tab);
    if (!key) return std::unexpected(key.error());
    if (*key != tab.snapshot.document_key) {
      if (never_given(tab.snapshot, name.element)) return unknown_ref(tab, ref);
      return stale_ref(ref, "the page navigated since the snapshot");
    }
    return resolve_ref(browser, tab, ref, name.element, tab.session_id, tab.snapshot);
  }
  auto frames = list_frames(browser, tab);
  if (!frames) return std::unexpected(frames.error());
  const std::string label = frame_label(name.frame);
  const FrameInfo* frame = frames->by_number(name.frame);
  if (frame == nullptr) return stale_ref(ref, "frame " + label + " is gone: its iframe was removed or the page navigated");
  SnapshotState& state = frame_refs(tab, *frame);
  if (state.document_key != frame->loader_id) return stale_ref(ref, "frame " + label + " was reloaded or navigated");
  auto element = resolve_ref(browser, tab, ref, name.element, frame->session_id, state);
  if (!element || !frame->out_of_process) return element;
  auto offset = frame_offset(browser, tab, *frames, *frame);
  if (!offset) return std::unexpected(offset.error());
  element->frame_x = offset->x;
  element->frame_y = offset->y;
  return element;
}

std::expected<ElementHandle, MethodError> find_by_selector(Browser& browser, Tab& tab, const std::string& selector) {
  auto frame = selected_frame(browser, tab);
  if (!frame) return std::unexpected(frame.error());
  auto target = script_target(browser, tab, *frame);
  if (!target) return std::unexpected(target.error());
  Json params = {{"expression", deep_query(selector, false)}, {"returnByValue", false}};
  if (target->context_id) params["contextId"] = *target->context_id;
  auto reply = browser.call_in(tab, target->session_id, "Runtime.evaluate", params);
  if (!reply) return std::unexpected(from_cdp(reply.error(), "failed to find " + selector));
  if (reply->contains("exceptionDetails")) {
    return invalid_argument("\"" + selector + "\" is not a valid CSS selector or snapshot ref (" +
                            exception_text((*reply)["exceptionDetails"]) +
                            "); use a ref such as e3 from `vesk snap -i` or a CSS selector");
  }
  const Json object = reply->value("result", Json::object());
  if (!object.contains("objectId")) return not_found(selector);
  std::string object_id = object["objectId"].get<std::string>();
  auto described = browser.call_in(tab, target->session_id, "DOM.describeNode", {{"objectId", object_id}});
  if (!described) return std::unexpected(from_cdp(described.error(), "failed to inspect " + selector));
  auto backend = described->value("node", Json::object()).value("backendNodeId", std::int64_t{0});
  ElementHandle handle{object_id, backend, selector, target->session_id};
  if (frame->session_id != tab.session_id) {
    auto frames = list_frames(browser, tab);
    if (!frames) return std::unexpected(frames.error());
    auto offset = frame_offset(browser, tab, *frames, *frame);
    if (!offset) return std::unexpected(offset.error());
    handle.frame_x = offset->x;
    handle.frame_y = offset->y;
  }
  return handle;
}

std::string without_at(const std::string& target) {
  return target.starts_with("@") ? target.substr(1) : target;  // "@e3" as some agents write refs
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
  return ElementHandle{object_id, backend, locator, tab.session_id};
}

}  // namespace

bool is_locator(const std::string& target) { return target.starts_with("text=") || target.starts_with("role="); }

bool is_ref(const std::string& target) { return parse_ref(target).has_value(); }

std::expected<std::string, MethodError> document_key(Browser& browser, Tab& tab) {
  auto tree = browser.call(tab, "Page.getFrameTree", Json::object());
  if (!tree) return std::unexpected(from_cdp(tree.error(), "failed to read the page's frames"));
  return tree->value("frameTree", Json::object()).value("frame", Json::object()).value("loaderId", "");
}

std::expected<ElementHandle, MethodError> find_element(Browser& browser, Tab& tab,
                                                       const std::string& target) {
  const std::string trimmed = without_at(target);
  if (auto ref = parse_ref(trimmed)) return find_by_ref(browser, tab, trimmed, *ref);
  if (target.empty()) return invalid_argument("an element selector or snapshot ref is needed");
  if (is_locator(target)) return find_by_locator(browser, tab, target);
  return find_by_selector(browser, tab, target);
}

CdpResult element_command(Browser& browser, Tab& tab, const ElementHandle& element, const std::string& method,
                       Json params) {
  return browser.call_in(tab, element.session_id, method, std::move(params));
}

MethodResult call_on_element(Browser& browser, Tab& tab, const ElementHandle& element,
                             const std::string& function_source, const Json& arguments) {
  return call_on_object_in(browser, tab, element.session_id, element.object_id, function_source, arguments);
}

std::expected<std::int64_t, MethodError> count_elements(Browser& browser, Tab& tab,
                                                        const std::string& target) {
  const std::string trimmed = without_at(target);
  if (auto ref = parse_ref(trimmed)) {
    auto element = find_by_ref(browser, tab, trimmed, *ref);
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
  auto where = selected_script_target(browser, tab);
  if (!where) return std::unexpected(where.error());
  auto count = evaluate_in(browser, tab, *where, deep_query(target, true));
  if (!count) {
    if (count.error().code == "evaluationFailed") {
      return invalid_argument("\"" + target + "\" is not a valid CSS selector: " + count.error().message);
    }
    return std::unexpected(count.error());
  }
  return count->is_number() ? count->get<std::int64_t>() : 0;
}

}  // namespace vesk::browser
