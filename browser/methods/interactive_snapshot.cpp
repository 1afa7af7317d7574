#include "browser/methods/interactive_snapshot.hpp"

#include "browser/core/page_script.hpp"
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

std::expected<SessionDocument, MethodError> read_session_document(Browser& browser, Tab& tab,
                                                                  const std::string& session_id) {
  auto document = browser.call_in(tab, session_id, "DOM.getDocument", {{"depth", -1}, {"pierce", true}});
  if (!document) return std::unexpected(from_cdp(document.error(), "failed to read the page's elements"));
  // Reading the document makes Chromium report every later change of it; we need none.
  browser.call_in(tab, session_id, "DOM.disable", Json::object());
  SessionDocument out;
  out.root = std::make_unique<Json>(std::move(document->at("root")));
  index_documents(*out.root, out);
  return out;
}

std::expected<std::optional<Json>, MethodError> interactive_nodes_from_dom(Browser& browser, Tab& tab,
                                                                            const FrameInfo& frame,
                                                                            const Json& document,
                                                                            SnapshotState& refs,
                                                                            const std::string& scope_object_id) {
  const ElementOrder order = element_order(document);
  std::vector<std::string> closed_roots;
  for (std::int64_t backend_id : order.closed_shadow_roots) {
    auto root = browser.call_in(tab, frame.session_id, "DOM.resolveNode", {{"backendNodeId", backend_id}});
    if (!root) return std::optional<Json>();  // gone meanwhile: the page changed
    closed_roots.push_back(root->value("object", Json::object()).value("objectId", ""));
  }
  auto target = script_target(browser, tab, frame);
  if (!target) return std::unexpected(target.error());
  auto collected = call_with_objects(browser, tab, *target, with_element_facts(js::interactive_collector), closed_roots,
                                     scope_object_id);
  if (!collected) return std::unexpected(collected.error());
  if (order.backend_ids.size() != collected->value("count", std::size_t{0})) return std::nullopt;

  Json nodes = Json::array();
  for (const auto& item : collected->value("items", Json::array())) {
    const auto index = item[0].get<std::size_t>();
    if (index >= order.tags.size() || order.tags[index] != item[1].get<std::string>()) return std::nullopt;
    Json node = item[2];
    node["id"] = assign_ref(refs, order.backend_ids[index]);
    if (!order.frame_ids[index].empty()) node["frameId"] = order.frame_ids[index];
    nodes.push_back(std::move(node));
  }
  return nodes;
}

}  // namespace vesk::browser
