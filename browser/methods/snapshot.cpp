#include "browser/methods/snapshot.hpp"

#include <algorithm>
#include <set>
#include <unordered_map>

#include "browser/core/element_lookup.hpp"
#include "browser/core/frames.hpp"
#include "browser/methods/snapshot_marks.hpp"
#include "browser/core/method_table.hpp"
#include "browser/core/page_script.hpp"
#include "browser/methods/interactive_snapshot.hpp"

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

// Chromium names some controls twice over: the parts of a date field ("Month Month") and
// their picker button ("Show date picker Show date picker"). A name that is one phrase
// twice is that phrase.
std::string undoubled(const std::string& name) {
  const std::size_t half = name.size() / 2;
  if (name.size() >= 3 && name.size() % 2 == 1 && name[half] == ' ' &&
      name.compare(0, half, name, half + 1, half) == 0) {
    return name.substr(0, half);
  }
  return name;
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
    // A frame's nodes are listed under its iframe, so the iframe is always listed.
    if (role == "Iframe") return true;
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

  // `context_name` is the name of the nearest ancestor that has one.
  void visit(const Json& node, int depth, const std::string& context_name) {
    const Json& role_object = node.value("role", Json::object());
    const std::string type = role_object.value("type", "");
    std::string role = ax_string(node, "role");
    std::string name = undoubled(ax_string(node, "name"));
    // In a compact snapshot a text that only repeats its parent's name (a cell "Blue Mug"
    // and its text "Blue Mug") says nothing new.
    const bool repeats_parent = mode == SnapshotMode::Compact && role == "StaticText" && name == context_name;
    if (!repeats_parent && wanted(node, role, name, type)) {
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
      if (child != by_id.end()) visit(*child->second, depth + 1, name.empty() ? context_name : name);
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
  state.highest_ref_on_tab = std::max(state.highest_ref_on_tab, state.next_ref);
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
  if (root != nullptr) walker.visit(*root, 0, "");
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

namespace {

// One snapshot across the frames of a tab: each frame's nodes come from its own session,
// and are listed right under the iframe node that holds the frame.
class FrameSnapshot {
 public:
  FrameSnapshot(Browser& browser, Tab& tab, const SnapshotRequest& request, FrameList frames)
      : browser_(browser), tab_(tab), request_(request), frames_(std::move(frames)) {}

  // The nodes of `frame` (within the scope element, if given) and of the frames under it.
  std::expected<Json, MethodError> nodes(const FrameInfo& frame, std::int64_t scope_backend_id,
                                         const std::string& scope_object_id, int depth) {
    SnapshotState& refs = frame_refs(tab_, frame);
    // A new document: refs of the old one must never reach its elements.
    if (refs.document_key != frame.loader_id) start_document(refs, frame.loader_id);
    auto own = own_nodes(frame, refs, scope_backend_id, scope_object_id);
    if (!own) return std::unexpected(own.error());
    Json out = Json::array();
    for (auto& node : *own) {
      const std::string child_id = node.value("frameId", "");
      node.erase("frameId");
      node["id"] = ref_text(frame.number, node.value("id", ""));
      if (request_.mode == SnapshotMode::Full) node["depth"] = node.value("depth", 0) + depth;
      const int node_depth = node.value("depth", 0);
      out.push_back(std::move(node));
      if (child_id.empty()) continue;
      const FrameInfo* child = frames_.by_id(child_id);
      if (child == nullptr) {
        // Past the bounds, or gone since the frames were listed.
        out.back()["frameOmitted"] = true;
        continue;
      }
      out.back()["frame"] = frame_label(child->number);
      auto inner = nodes(*child, 0, {}, node_depth + 1);
      if (!inner) {
        // One broken frame (detached meanwhile, crashed) leaves the rest of the page readable.
        out.back()["frameError"] = inner.error().message;
        continue;
      }
      for (auto& inner_node : *inner) out.push_back(std::move(inner_node));
    }
    return out;
  }

  [[nodiscard]] const FrameList& frames() const { return frames_; }

 private:
  std::expected<Json, MethodError> own_nodes(const FrameInfo& frame, SnapshotState& refs,
                                             std::int64_t scope_backend_id, const std::string& scope_object_id) {
    if (request_.mode == SnapshotMode::Interactive) {
      auto collected = interactive_nodes(frame, refs, scope_object_id);
      if (!collected) return std::unexpected(collected.error());
      if (*collected) return std::move(**collected);
    }
    Json params = Json::object();
    if (!frame.frame_id.empty()) params["frameId"] = frame.frame_id;
    auto tree = browser_.call_in(tab_, frame.session_id, "Accessibility.getFullAXTree", params);
    if (!tree) return std::unexpected(from_cdp(tree.error(), "failed to read the accessibility tree of frame " + frame_label(frame.number)));
    Json nodes = snapshot_nodes(tree->value("nodes", Json::array()), request_.mode, refs, scope_backend_id);
    mark_iframes(frame, refs, nodes);
    return nodes;
  }

  // Gives the iframe nodes of an accessibility-tree listing the frame they hold.
  void mark_iframes(const FrameInfo& frame, SnapshotState& refs, Json& nodes) {
    for (const auto& child : frames_.frames) {
      if (child.parent_id != frame.frame_id || child.frame_id.empty()) continue;
      auto owner = browser_.call_in(tab_, frame.session_id, "DOM.getFrameOwner", {{"frameId", child.frame_id}});
      if (!owner) continue;
      auto ref = refs.ref_of_node.find(owner->value("backendNodeId", std::int64_t{0}));
      if (ref == refs.ref_of_node.end()) continue;
      for (auto& node : nodes) {
        if (node.value("id", "") == ref->second) node["frameId"] = child.frame_id;
      }
    }
  }

  // The interactive nodes of a frame from its DOM, or nullopt when the accessibility tree
  // must give them (the page changed between the reads). The page script needs the closed
  // shadow roots only the session's document shows; when that document is still to be read,
  // its read is sent first and the script runs without them while Chromium sends the
  // document and we parse it (on a page of ten thousand elements the two overlap by a
  // hundred milliseconds); only a frame with closed roots runs the script again with them.
  std::expected<std::optional<Json>, MethodError> interactive_nodes(const FrameInfo& frame, SnapshotState& refs,
                                                                   const std::string& scope_object_id) {
    auto target = collector_target(browser_, tab_, frame, scope_object_id);
    if (!target) return std::unexpected(target.error());
    std::optional<Json> collected;
    if (!documents_.contains(frame.session_id)) {
      auto reading = start_reading_session_document(browser_, tab_, frame.session_id);
      if (!reading) return std::unexpected(reading.error());
      auto found = collect_interactive_elements(browser_, tab_, *target, {});
      // Awaited even when the script failed: finishing the read also turns off the change
      // reports that reading the document turned on.
      auto document = finish_reading_session_document(browser_, tab_, *reading);
      if (!found) return std::unexpected(found.error());
      if (!document) return std::unexpected(document.error());
      collected = std::move(*found);
      documents_.emplace(frame.session_id, std::move(*document));
    }
    const Json* document = frame_document(frame);
    if (document == nullptr) return std::optional<Json>();
    const ElementOrder order = element_order(*document);
    if (collected && order.closed_shadow_roots.empty()) {
      return match_collected_elements(order, std::move(*collected), refs);
    }
    return interactive_nodes_from_dom(browser_, tab_, frame, *target, order, refs);
  }

  // The frame's document within its session's DOM, once read (nullptr when the frame's
  // document is not in it, e.g. it is being replaced).
  const Json* frame_document(const FrameInfo& frame) const {
    auto known = documents_.find(frame.session_id);
    if (known == documents_.end()) return nullptr;
    if (frame.session_root) return known->second.root.get();
    auto found = known->second.document_of_frame.find(frame.frame_id);
    return found == known->second.document_of_frame.end() ? nullptr : found->second;
  }

  Browser& browser_;
  Tab& tab_;
  const SnapshotRequest& request_;
  FrameList frames_;
  std::map<std::string, SessionDocument> documents_;
};

// The frame a snapshot's scope element lives in: the ref's frame, or the selected frame for
// a CSS selector.
std::expected<const FrameInfo*, MethodError> scope_frame(Browser& browser, Tab& tab, const FrameList& frames,
                                                         const std::string& selector) {
  const std::string trimmed = selector.starts_with("@") ? selector.substr(1) : selector;
  int number = 0;
  if (auto ref = parse_ref(trimmed)) {
    number = ref->frame;
  } else {
    auto selected = selected_frame(browser, tab);
    if (!selected) return std::unexpected(selected.error());
    number = selected->number;
  }
  const FrameInfo* frame = frames.by_number(number);
  if (frame == nullptr) return method_error("staleRef", "frame " + frame_label(number) + " of \"" + selector + "\" is gone; take a new snapshot");
  return frame;
}

}  // namespace

std::expected<void, MethodError> enter_current_document(Browser& browser, Tab& tab) {
  auto key = document_key(browser, tab);
  if (!key) return std::unexpected(key.error());
  if (*key != tab.snapshot.document_key) start_document(tab.snapshot, *key);
  return {};
}

MethodResult take_snapshot(Browser& browser, Tab& tab, const SnapshotRequest& request) {
  auto frames = list_frames(browser, tab);
  if (!frames) return std::unexpected(frames.error());
  const FrameInfo* root = &frames->main();
  std::int64_t scope = 0;
  std::string scope_object;
  if (!request.selector.empty()) {
    auto element = find_element(browser, tab, request.selector);
    if (!element) return std::unexpected(element.error());
    auto scope_node = backend_node_of(browser, tab, *element);
    if (!scope_node) return std::unexpected(scope_node.error());
    scope = *scope_node;
    scope_object = element->object_id;
    auto frame = scope_frame(browser, tab, *frames, request.selector);
    if (!frame) return std::unexpected(frame.error());
    root = *frame;
  }
  const std::size_t omitted = frames->omitted;
  FrameSnapshot walk(browser, tab, request, *frames);
  auto listed = walk.nodes(*root, scope, scope_object, 0);
  if (!listed) return std::unexpected(listed.error());
  Json nodes = std::move(*listed);

  auto facts = evaluate(browser, tab, "({url: location.href, title: document.title})");
  if (!facts) return std::unexpected(facts.error());
  Json snapshot = {{"title", facts->value("title", "")}, {"url", facts->value("url", "")}};
  Json result = {{"tab", tab.id}};
  if (omitted > 0) {
    snapshot["framesOmitted"] = omitted;
    result["note"] = std::to_string(omitted) + " frame(s) were left out: only " + std::to_string(kMaxFrameDepth) +
                     " levels of nested frames and " + std::to_string(kMaxFrames) +
                     " frames are read; their iframe nodes say frameOmitted";
  }

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
  // The state and the changes go into what the listing prints (after the diff, which
  // compares the nodes' own members).
  mark_nodes(nodes, request.diff ? result["diff"] : Json(), request.mode == SnapshotMode::Interactive);

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
