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
  }
  auto children = node.find("children");
  if (children == node.end() || !children->is_array()) return;
  for (const auto& child : *children) collect_elements(child, order);
}

}  // namespace

ElementOrder element_order(const Json& document_root) {
  ElementOrder order;
  collect_elements(document_root, order);
  return order;
}

std::expected<std::optional<Json>, MethodError> interactive_nodes_from_dom(Browser& browser, Tab& tab,
                                                                            const std::string& scope_object_id) {
  // [index in document order, tag, role, name, states] of every visible element that can
  // be acted on.
  const std::string kCollector(js::interactive_collector);
  MethodResult collected;
  if (scope_object_id.empty()) {
    collected = evaluate(browser, tab, "(" + kCollector + ").call(undefined)");
  } else {
    collected = call_on_object(browser, tab, scope_object_id, kCollector);
  }
  if (!collected) return std::unexpected(collected.error());
  // pierce: false keeps iframe documents and shadow trees out, as querySelectorAll does.
  auto document = browser.call(tab, "DOM.getDocument", {{"depth", -1}, {"pierce", false}});
  if (!document) return std::unexpected(from_cdp(document.error(), "failed to read the page's elements"));
  // Reading the document makes Chromium report every later change of it; we need none.
  browser.call(tab, "DOM.disable", Json::object());
  const ElementOrder order = element_order(document->value("root", Json::object()));
  if (order.backend_ids.size() != collected->value("count", std::size_t{0})) return std::nullopt;

  SnapshotState& state = tab.snapshot;
  Json nodes = Json::array();
  for (const auto& item : collected->value("items", Json::array())) {
    const auto index = item[0].get<std::size_t>();
    if (index >= order.tags.size() || order.tags[index] != item[1].get<std::string>()) return std::nullopt;
    const std::int64_t backend_id = order.backend_ids[index];
    Json node = item[2];
    node["id"] = assign_ref(state, backend_id);
    nodes.push_back(std::move(node));
  }
  return nodes;
}

}  // namespace vesk::browser
