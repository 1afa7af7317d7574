#include "browser/methods/interactive_snapshot.hpp"

#include <set>

#include "browser/js/page_scripts.hpp"
#include "browser/methods/snapshot.hpp"

namespace vesk::browser {

namespace {

void collect_elements(const Json& node, ElementOrder& order) {
  if (node.value("nodeType", 0) == 1) {
    order.backend_ids.push_back(node.value("backendNodeId", std::int64_t{0}));
    order.tags.push_back(node.value("nodeName", ""));
    const std::string tag = order.tags.back();
    order.frame_ids.push_back(tag == "IFRAME" || tag == "FRAME" ? node.value("frameId", "") : std::string());
  }
  auto roots = node.find("shadowRoots");
  if (roots != node.end() && roots->is_array()) {
    for (const auto& root : *roots) {
      const std::string type = root.value("shadowRootType", "");
      if (type == "user-agent") continue;  // the browser's own, out of the page's reach
      if (type == "closed") order.closed_shadow_roots.push_back(root.value("backendNodeId", std::int64_t{0}));
      collect_elements(root, order);
    }
  }
  auto children = node.find("children");
  if (children == node.end() || !children->is_array()) return;
  for (const auto& child : *children) collect_elements(child, order);
}

void index_documents(const Json& node, SessionDocument& document) {
  auto content = node.find("contentDocument");
  if (content != node.end() && content->is_object()) {
    document.document_of_frame[node.value("frameId", "")] = &*content;
    index_documents(*content, document);
  }
  for (const char* member : {"shadowRoots", "children"}) {
    auto list = node.find(member);
    if (list == node.end() || !list->is_array()) continue;
    for (const auto& child : *list) index_documents(child, document);
  }
}

// The closed shadow roots of `order` as remote objects for the page script, or nullopt
// when one is gone (the page changed since the document was read).
std::optional<std::vector<std::string>> closed_root_objects(Browser& browser, Tab& tab, const FrameInfo& frame,
                                                            const ElementOrder& order) {
  std::vector<std::string> roots;
  for (std::int64_t backend_id : order.closed_shadow_roots) {
    auto root = browser.call_in(tab, frame.session_id, "DOM.resolveNode",
                                browser.in_call_group(tab, frame.session_id, {{"backendNodeId", backend_id}}));
    if (!root) return std::nullopt;  // gone meanwhile: the page changed
    roots.push_back(root->value("object", Json::object()).value("objectId", ""));
  }
  return roots;
}

}  // namespace

ElementOrder element_order(const Json& document) {
  ElementOrder order;
  // The document node itself is no element; its children are walked as the page does.
  auto children = document.find("children");
  if (children != document.end() && children->is_array()) {
    for (const auto& child : *children) collect_elements(child, order);
  }
  return order;
}

// What element_order() and index_documents() read of a document: its elements, shadow roots
// and frame documents, with their types, names, ids and frames. The rest of a large page
// (attributes, text, comments) is dropped while the reply is parsed.
bool keeps_element_structure(int /*depth*/, Json::parse_event_t event, Json& parsed) {
  static const std::set<std::string, std::less<>> unread = {
      "attributes", "nodeValue",  "localName",     "nodeId",     "parentId", "childNodeCount",
      "documentURL", "baseURL",   "xmlVersion",    "compatibilityMode", "publicId", "systemId",
      "pseudoElements", "pseudoType", "pseudoIdentifier", "distributedNodes", "isSVG",
      "templateContent", "importedDocument", "assignedSlot", "isScrollable"};
  if (event == Json::parse_event_t::key) return !unread.contains(parsed.get_ref<const std::string&>());
  if (event == Json::parse_event_t::object_end) {
    // Text, comment and doctype nodes have no elements under them.
    auto type = parsed.find("nodeType");
    return type == parsed.end() || !(*type == 3 || *type == 8 || *type == 10);
  }
  return true;
}

std::expected<SentCall, MethodError> start_reading_session_document(Browser& browser, Tab& tab,
                                                                    const std::string& session_id) {
  auto reading = browser.start_call_in_filtered(tab, session_id, "DOM.getDocument", {{"depth", -1}, {"pierce", true}},
                                                keeps_element_structure);
  if (!reading) return std::unexpected(from_cdp(reading.error(), "failed to read the page's elements"));
  return std::move(*reading);
}

std::expected<SessionDocument, MethodError> finish_reading_session_document(Browser& browser, Tab& tab,
                                                                            SentCall& reading) {
  const std::string session_id = reading.session_id();
  auto document = browser.finish_call(tab, reading);
  if (!document) return std::unexpected(from_cdp(document.error(), "failed to read the page's elements"));
  // Reading the document makes Chromium report every later change of it; we need none.
  browser.call_in(tab, session_id, "DOM.disable", Json::object());
  SessionDocument out;
  out.root = std::make_unique<Json>(std::move(document->at("root")));
  index_documents(*out.root, out);
  return out;
}

std::expected<CollectorTarget, MethodError> collector_target(Browser& browser, Tab& tab, const FrameInfo& frame,
                                                             const std::string& scope_object_id) {
  auto script = script_target(browser, tab, frame);
  if (!script) return std::unexpected(script.error());
  CollectorTarget target{*script, scope_object_id};
  if (target.this_object_id.empty() && !target.script.context_id) {
    auto global = global_object(browser, tab, target.script.session_id);
    if (!global) return std::unexpected(global.error());
    target.this_object_id = *global;
  }
  return target;
}

std::expected<Json, MethodError> collect_interactive_elements(Browser& browser, Tab& tab, const CollectorTarget& target,
                                                              const std::vector<std::string>& closed_roots) {
  auto collected = call_with_objects(browser, tab, target.script, with_element_facts(js::interactive_collector),
                                     closed_roots, target.this_object_id);
  if (!collected) return std::unexpected(collected.error());
  // The script answers with its findings as JSON text: Chromium hands over one string far
  // faster than it converts ten thousand small objects. Text that is no listing (a page
  // that replaced JSON.stringify) reads as an empty one, which matches no document: the
  // snapshot then comes from the accessibility tree.
  if (!collected->is_string()) return Json::object();
  auto parsed = parse_json_mending_surrogates(collected->get_ref<const std::string&>());
  if (!parsed || !parsed->is_object()) return Json::object();
  return std::move(*parsed);
}

std::optional<Json> match_collected_elements(const ElementOrder& order, Json collected, SnapshotState& refs) {
  if (order.backend_ids.size() != collected.value("count", std::size_t{0})) return std::nullopt;
  Json nodes = Json::array();
  auto items = collected.find("items");
  if (items == collected.end() || !items->is_array()) return nodes;
  for (auto& item : *items) {
    if (!item.is_array() || item.size() != 3 || !item[0].is_number_unsigned() || !item[1].is_string()) return std::nullopt;
    const auto index = item[0].get<std::size_t>();
    if (index >= order.tags.size() || order.tags[index] != item[1].get_ref<const std::string&>()) return std::nullopt;
    Json node = std::move(item[2]);
    node["id"] = assign_ref(refs, order.backend_ids[index]);
    if (!order.frame_ids[index].empty()) node["frameId"] = order.frame_ids[index];
    nodes.push_back(std::move(node));
  }
  return nodes;
}

std::expected<std::optional<Json>, MethodError> interactive_nodes_from_dom(Browser& browser, Tab& tab,
                                                                            const FrameInfo& frame,
                                                                            const CollectorTarget& target,
                                                                            const ElementOrder& order,
                                                                            SnapshotState& refs) {
  auto closed_roots = closed_root_objects(browser, tab, frame, order);
  if (!closed_roots) return std::optional<Json>();
  auto collected = collect_interactive_elements(browser, tab, target, *closed_roots);
  if (!collected) return std::unexpected(collected.error());
  return match_collected_elements(order, std::move(*collected), refs);
}

}  // namespace vesk::browser
