#include "browser/methods/snapshot.hpp"

#include <set>
#include <unordered_map>

#include "browser/core/element_lookup.hpp"
#include "browser/methods/interactive_snapshot.hpp"
#include "browser/core/method_table.hpp"
#include "browser/core/page_script.hpp"

namespace vesk::browser {

namespace {

// Roles an agent can act on.
const std::set<std::string, std::less<>> kInteractiveRoles = {
    "button",   "link",          "textbox",  "searchbox",        "combobox", "listbox",
    "option",   "checkbox",      "radio",    "switch",           "slider",   "spinbutton",
    "menuitem", "menuitemcheckbox", "menuitemradio", "tab",      "treeitem", "textfield",
    "ListBoxOption", "MenuListOption", "PopUpButton", "ToggleButton", "DisclosureTriangle",
    "scrollbar", "gridcell", "columnheader", "rowheader"};

// Structure with no meaning of its own: left out unless "full" is asked for.
const std::set<std::string, std::less<>> kNoiseRoles = {
    "generic", "none", "presentation", "InlineTextBox", "LineBreak", "LayoutTable",
    "LayoutTableRow", "LayoutTableCell", "Unknown", "Ignored", "IgnoredRole"};

// Boolean-ish states worth showing, by their accessibility property names.
const char* const kStateProperties[] = {"checked", "disabled", "expanded", "selected", "focused",
                                        "required", "readonly", "pressed", "modal"};

std::string ax_string(const Json& node, const char* member) {
  auto it = node.find(member);
  if (it == node.end() || !it->is_object()) return {};
  auto value = it->find("value");
  if (value == it->end()) return {};
  if (value->is_string()) return value->get<std::string>();
  if (value->is_number() || value->is_boolean()) return value->dump();
  return {};
}

bool has_true_property(const Json& node, std::string_view name) {
  for (const auto& property : node.value("properties", Json::array())) {
    if (property.value("name", "") != name) continue;
    const Json value = property.value("value", Json::object()).value("value", Json());
    return value.is_boolean() ? value.get<bool>() : value == "true";
  }
  return false;
}

// One node in our format, without its ref.
Json describe(const Json& node, const std::string& role, const std::string& name) {
  Json out = {{"role", role}, {"name", name}};
  std::string value = ax_string(node, "value");
  if (!value.empty()) out["value"] = value;
  for (const auto& property : node.value("properties", Json::array())) {
    const std::string property_name = property.value("name", "");
    const Json value_of = property.value("value", Json::object()).value("value", Json());
    if (property_name == "level" && value_of.is_number()) {
      out["level"] = value_of;
      continue;
    }
    for (const char* state : kStateProperties) {
      if (property_name != state) continue;
      if (value_of.is_boolean()) {
        if (value_of.get<bool>() || property_name == "checked" || property_name == "expanded") {
          out[property_name] = value_of;
        }
      } else if (value_of.is_string()) {
        const std::string text = value_of.get<std::string>();
        if (text == "true") out[property_name] = true;
        else if (text == "false") { if (property_name == "checked" || property_name == "pressed") out[property_name] = false; }
        else out[property_name] = text;  // "mixed"
      }
    }
  }
  return out;
}

struct Walker {
  std::unordered_map<std::string, const Json*> by_id;
  SnapshotMode mode;
  SnapshotState& state;
  Json nodes = Json::array();

  std::string ref_for(std::int64_t backend_id) { return backend_id == 0 ? std::string() : assign_ref(state, backend_id); }

  bool wanted(const Json& node, const std::string& role, const std::string& name, const std::string& type) {
    if (mode == SnapshotMode::Full) return true;
    if (node.value("ignored", false)) return false;
    const bool interactive = kInteractiveRoles.contains(role) ||
                             (has_true_property(node, "focusable") && !name.empty() &&
                              role != "RootWebArea" && role != "WebArea" && !kNoiseRoles.contains(role));
    if (mode == SnapshotMode::Interactive) return interactive;
    if (interactive) return true;
    if (kNoiseRoles.contains(role) || role == "RootWebArea") return false;
    if (role == "StaticText") return !name.empty();
    if (type == "internalRole" && mode == SnapshotMode::Compact) return false;
    if (mode == SnapshotMode::Compact) return !name.empty() || !ax_string(node, "value").empty();
    return true;
  }

  void visit(const Json& node, int depth) {
    const Json& role_object = node.value("role", Json::object());
    const std::string type = role_object.value("type", "");
    std::string role = ax_string(node, "role");
    std::string name = ax_string(node, "name");
    if (wanted(node, role, name, type)) {
      Json out = describe(node, role == "StaticText" ? std::string("text") : role, name);
      std::string ref = ref_for(node.value("backendDOMNodeId", std::int64_t{0}));
      out["id"] = ref;
      if (mode == SnapshotMode::Full) out["depth"] = depth;
      nodes.push_back(std::move(out));
    }
    // A text node's name already holds its text: its inline boxes add nothing.
    if (role == "StaticText" && mode != SnapshotMode::Full) return;
    for (const auto& child_id : node.value("childIds", Json::array())) {
      auto child = by_id.find(child_id.is_string() ? child_id.get<std::string>() : child_id.dump());
      if (child != by_id.end()) visit(*child->second, depth + 1);
    }
  }
};

std::string listing_line(const Json& node) {
  return node.value("id", "") + ":" + node.value("role", "") + " " + node.value("name", "");
}

}  // namespace

std::string assign_ref(SnapshotState& state, std::int64_t backend_id) {
  auto known = state.ref_of_node.find(backend_id);
  if (known != state.ref_of_node.end()) return known->second;
  std::string ref = "e" + std::to_string(state.next_ref++);
  state.ref_of_node[backend_id] = ref;
  state.node_of_ref[ref] = backend_id;
  return ref;
}

Json snapshot_nodes(const Json& ax_nodes, SnapshotMode mode, SnapshotState& state,
                    std::int64_t scope_backend_id) {
  Walker walker{{}, mode, state};
  const Json* root = nullptr;
  for (const auto& node : ax_nodes) {
    std::string id = node.value("nodeId", "");
    walker.by_id[id] = &node;
    if (scope_backend_id != 0) {
      if (root == nullptr && node.value("backendDOMNodeId", std::int64_t{0}) == scope_backend_id) root = &node;
    } else if (root == nullptr && !node.contains("parentId")) {
      root = &node;
    }
  }
  if (root != nullptr) walker.visit(*root, 0);
  return walker.nodes;
}

bool cut_to_token_budget(Json& nodes, std::size_t max_tokens) {
  std::size_t used = 0;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    used += listing_line(nodes[i]).size() / 4 + 1;
    if (used > max_tokens) {
      nodes.erase(nodes.begin() + static_cast<std::ptrdiff_t>(i), nodes.end());
      return true;
    }
  }
  return false;
}

Json diff_nodes(const Json& before, const Json& after) {
  std::unordered_map<std::string, const Json*> old_by_ref;
  for (const auto& node : before) old_by_ref[node.value("id", "")] = &node;
  Json added = Json::array(), changed = Json::array(), removed = Json::array();
  std::set<std::string> present;
  for (const auto& node : after) {
    const std::string ref = node.value("id", "");
    present.insert(ref);
    auto old = old_by_ref.find(ref);
    if (old == old_by_ref.end()) added.push_back(node);
    else if (*old->second != node) changed.push_back(node);
  }
  for (const auto& node : before) {
    if (!present.contains(node.value("id", ""))) removed.push_back(node.value("id", ""));
  }
  return {{"added", added}, {"removed", removed}, {"changed", changed}};
}

MethodResult take_snapshot(Browser& browser, Tab& tab, const SnapshotRequest& request) {
  auto key = document_key(browser, tab);
  if (!key) return std::unexpected(key.error());
  if (*key != tab.snapshot.document_key) {
    // A new document: refs of the old one must never reach its elements.
    tab.snapshot = SnapshotState{};
    tab.snapshot.document_key = *key;
  }
  std::int64_t scope = 0;
  std::string scope_object;
  if (!request.selector.empty()) {
    auto element = find_element(browser, tab, request.selector);
    if (!element) return std::unexpected(element.error());
    scope = element->backend_node_id;
    scope_object = element->object_id;
  }
  std::optional<Json> from_dom;
  if (request.mode == SnapshotMode::Interactive) {
    auto collected = interactive_nodes_from_dom(browser, tab, scope_object);
    if (!collected) return std::unexpected(collected.error());
    from_dom = std::move(*collected);
  }
  Json nodes;
  if (from_dom) {
    nodes = std::move(*from_dom);
  } else {
    auto tree = browser.call(tab, "Accessibility.getFullAXTree", Json::object());
    if (!tree) return std::unexpected(from_cdp(tree.error(), "failed to read the page's accessibility tree"));
    nodes = snapshot_nodes(tree->value("nodes", Json::array()), request.mode, tab.snapshot, scope);
  }

  auto facts = evaluate(browser, tab, "({url: location.href, title: document.title})");
  if (!facts) return std::unexpected(facts.error());
  Json snapshot = {{"title", facts->value("title", "")}, {"url", facts->value("url", "")}};
  Json result = {{"tab", tab.id}};

  const int mode_number = static_cast<int>(request.mode);
  const Json* previous = tab.snapshot.previous_nodes ? &*tab.snapshot.previous_nodes : nullptr;
  if (request.diff) {
    if (previous != nullptr && previous->value("mode", -1) == mode_number &&
        previous->value("selector", "") == request.selector) {
      result["diff"] = diff_nodes((*previous)["nodes"], nodes);
    } else {
      result["diff"] = nullptr;
      result["note"] = "no earlier snapshot of this page in this mode to compare with";
    }
  }
  tab.snapshot.previous_nodes = Json{{"mode", mode_number}, {"selector", request.selector}, {"nodes", nodes}};

  if (request.max_tokens > 0) {
    const std::size_t total = nodes.size();
    if (cut_to_token_budget(nodes, request.max_tokens)) {
      snapshot["truncated"] = true;
      snapshot["totalNodes"] = total;
      result["note"] = "the snapshot was cut to " + std::to_string(nodes.size()) + " of " +
                       std::to_string(total) +
                       " nodes to fit maxTokens; raise it, use -i, or scope it with a selector";
    }
  }
  snapshot["nodes"] = std::move(nodes);
  result["snapshot"] = std::move(snapshot);
  return result;
}

void add_snapshot_methods(MethodTable& table) {
  table["page.snapshot"] = tab_method([](Browser& browser, Tab& tab, const Json& params) -> MethodResult {
    SnapshotRequest request;
    if (option_flag(params, "full")) request.mode = SnapshotMode::Full;
    else if (option_flag(params, "interactive")) request.mode = SnapshotMode::Interactive;
    else if (option_flag(params, "compact")) request.mode = SnapshotMode::Compact;
    request.diff = option_flag(params, "diff");
    if (auto budget = option_number(params, "maxTokens")) {
      if (*budget < 1) return invalid_argument("maxTokens must be a positive number of tokens");
      request.max_tokens = static_cast<std::size_t>(*budget);
    }
    request.selector = string_member(params, "selector").value_or("");
    return take_snapshot(browser, tab, request);
  });
}

}  // namespace vesk::browser
