#include "browser/core/frames.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>

namespace vesk::browser {

namespace {

struct RawFrame {
  Json frame;  // Page.getFrameTree's frame object
  std::string session_id;
  bool session_root = false;
};

void collect_tree(const Json& tree, const std::string& session_id, bool root, std::vector<RawFrame>& out) {
  out.push_back({tree.value("frame", Json::object()), session_id, root});
  for (const auto& child : tree.value("childFrames", Json::array())) collect_tree(child, session_id, false, out);
}

// The iframe targets that belong to the tab: children of its page target, their children...
std::vector<Json> frame_targets_of(const Json& target_infos, const std::string& page_target) {
  std::set<std::string> owners = {page_target};
  std::vector<Json> mine;
  std::set<std::string> taken;
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& info : target_infos) {
      const std::string id = info.value("targetId", "");
      if (info.value("type", "") != "iframe" || taken.contains(id)) continue;
      if (!owners.contains(info.value("parentId", ""))) continue;
      mine.push_back(info);
      owners.insert(id);
      taken.insert(id);
      grew = true;
    }
  }
  return mine;
}

// Attaches to the tab's out-of-process frames not attached yet, forgets those that are gone,
// and adds each one's frame tree.
std::expected<void, MethodError> add_out_of_process_frames(Browser& browser, Tab& tab, std::vector<RawFrame>& raw) {
  auto targets = browser.call_browser("Target.getTargets", Json::object());
  if (!targets) return std::unexpected(from_cdp(targets.error(), "failed to list the page's frames"));
  const std::vector<Json> mine = frame_targets_of(targets->value("targetInfos", Json::array()), tab.target_id);
  std::set<std::string> present;
  for (const auto& info : mine) present.insert(info.value("targetId", ""));
  for (auto it = frames_of(tab).sessions.begin(); it != frames_of(tab).sessions.end();) {
    if (present.contains(it->first)) {
      ++it;
      continue;
    }
    frames_of(tab).contexts.erase(it->second);
    it = frames_of(tab).sessions.erase(it);
  }
  for (const auto& info : mine) {
    const std::string target_id = info.value("targetId", "");
    auto& session = frames_of(tab).sessions[target_id];
    if (session.empty()) {
      auto attached = browser.call_browser("Target.attachToTarget", {{"targetId", target_id}, {"flatten", true}});
      if (!attached) {  // gone between the listing and now
        frames_of(tab).sessions.erase(target_id);
        continue;
      }
      session = attached->value("sessionId", "");
    }
    auto tree = browser.call_in(tab, session, "Page.getFrameTree", Json::object());
    if (!tree) continue;  // the frame went away meanwhile
    collect_tree(tree->value("frameTree", Json::object()), session, true, raw);
  }
  return {};
}

int number_for(TabFrames& frames, const std::string& frame_id) {
  auto known = frames.number_of_frame.find(frame_id);
  if (known != frames.number_of_frame.end()) return known->second;
  const int number = frames.next_number++;
  frames.number_of_frame[frame_id] = number;
  frames.frame_of_number[number] = frame_id;
  return number;
}

FrameInfo info_of(const RawFrame& raw) {
  FrameInfo info;
  const Json& frame = raw.frame;
  info.frame_id = frame.value("id", "");
  info.parent_id = frame.value("parentId", "");
  info.session_id = raw.session_id;
  info.loader_id = frame.value("loaderId", "");
  info.url = frame.value("url", "") + frame.value("urlFragment", "");
  info.name = frame.value("name", "");
  info.origin = frame.value("securityOrigin", "");
  info.session_root = raw.session_root;
  return info;
}

void update_contexts(SessionContexts& contexts, const CdpEvent& event) {
  if (event.method == "Runtime.executionContextCreated") {
    const Json context = event.params.value("context", Json::object());
    const Json aux = context.value("auxData", Json::object());
    if (aux.value("isDefault", false)) contexts.context_of_frame[aux.value("frameId", "")] = context.value("id", std::int64_t{0});
  } else if (event.method == "Runtime.executionContextDestroyed") {
    const auto id = event.params.value("executionContextId", std::int64_t{-1});
    std::erase_if(contexts.context_of_frame, [&](const auto& entry) { return entry.second == id; });
  } else if (event.method == "Runtime.executionContextsCleared") {
    contexts.context_of_frame.clear();
  }
}

std::unexpected<MethodError> frame_not_found(std::string message) {
  return method_error("frameNotFound", std::move(message));
}

}  // namespace

const FrameInfo* FrameList::by_id(std::string_view frame_id) const {
  for (const auto& frame : frames) {
    if (frame.frame_id == frame_id) return &frame;
  }
  return nullptr;
}

const FrameInfo* FrameList::by_number(int number) const {
  for (const auto& frame : frames) {
    if (frame.number == number) return &frame;
  }
  return nullptr;
}

std::expected<FrameList, MethodError> list_frames(Browser& browser, Tab& tab) {
  auto tree = browser.call(tab, "Page.getFrameTree", Json::object());
  if (!tree) return std::unexpected(from_cdp(tree.error(), "failed to read the page's frames"));
  std::vector<RawFrame> raw;
  collect_tree(tree->value("frameTree", Json::object()), tab.session_id, true, raw);
  if (auto added = add_out_of_process_frames(browser, tab, raw); !added) return std::unexpected(added.error());

  std::map<std::string, std::vector<const RawFrame*>> children;
  for (const auto& frame : raw) {
    const std::string parent = frame.frame.value("parentId", "");
    if (!parent.empty()) children[parent].push_back(&frame);
  }
  FrameList list;
  FrameInfo main = info_of(raw.front());
  main.session_root = true;
  list.frames.push_back(main);
  // Depth first, so that each frame comes before its children.
  std::vector<std::pair<const RawFrame*, int>> stack;
  auto push_children = [&](const std::string& frame_id, int depth) {
    auto found = children.find(frame_id);
    if (found == children.end()) return;
    for (auto it = found->second.rbegin(); it != found->second.rend(); ++it) stack.emplace_back(*it, depth);
  };
  push_children(main.frame_id, 1);
  std::set<std::string> seen = {main.frame_id};
  while (!stack.empty()) {
    auto [raw_frame, depth] = stack.back();
    stack.pop_back();
    FrameInfo info = info_of(*raw_frame);
    if (!seen.insert(info.frame_id).second) continue;
    if (depth > kMaxFrameDepth || list.frames.size() > kMaxFrames) {
      ++list.omitted;
      continue;
    }
    info.depth = depth;
    info.number = number_for(frames_of(tab), info.frame_id);
    info.out_of_process = info.session_id != tab.session_id;
    info.cross_origin = info.origin != main.origin;
    list.frames.push_back(info);
    push_children(info.frame_id, depth + 1);
  }
  return list;
}

std::string frame_label(int number) { return number == 0 ? std::string("main") : "f" + std::to_string(number); }

std::optional<RefName> parse_ref(std::string_view text) {
  auto digits = [](std::string_view part) {
    return !part.empty() && std::all_of(part.begin(), part.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
  };
  RefName name;
  if (text.starts_with("f")) {
    const auto e = text.find('e');
    if (e == std::string_view::npos || !digits(text.substr(1, e - 1))) return std::nullopt;
    const std::string_view number = text.substr(1, e - 1);
    auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), name.frame);
    if (ec != std::errc() || name.frame < 1) return std::nullopt;
    text.remove_prefix(e);
  }
  if (!text.starts_with("e") || !digits(text.substr(1))) return std::nullopt;
  name.element = std::string(text);
  return name;
}

std::string ref_text(int frame, const std::string& element) {
  return frame == 0 ? element : "f" + std::to_string(frame) + element;
}

SnapshotState& frame_refs(Tab& tab, const FrameInfo& frame) {
  return frame.number == 0 ? tab.snapshot : frames_of(tab).refs[frame.number];
}

void start_document(SnapshotState& state, const std::string& document_key) {
  const int next_ref = state.next_ref;
  state = SnapshotState{};
  state.document_key = document_key;
  state.next_ref = next_ref;
}

std::expected<ScriptTarget, MethodError> script_target(Browser& browser, Tab& tab, const FrameInfo& frame) {
  ScriptTarget target{frame.session_id, std::nullopt, frame.number};
  if (frame.session_root) return target;
  SessionContexts& contexts = frames_of(tab).contexts[frame.session_id];
  if (!contexts.events) {
    const std::string session = frame.session_id;
    contexts.events = browser.client().subscribe([session](const CdpEvent& event) {
      return event.session_id == session && event.method.starts_with("Runtime.executionContext");
    });
    // Reports the contexts that exist already, then each new one.
    auto enabled = browser.call_in(tab, session, "Runtime.enable", Json::object());
    if (!enabled) {
      contexts.events.reset();
      return std::unexpected(from_cdp(enabled.error(), "failed to reach the scripts of frame " + frame_label(frame.number)));
    }
  }
  for (const auto& event : contexts.events->drain()) update_contexts(contexts, event);
  // A frame that has just been created may not have its context yet.
  const Deadline deadline = deadline_in(std::chrono::seconds(5));
  while (!contexts.context_of_frame.contains(frame.frame_id)) {
    auto event = contexts.events->wait_for([](const CdpEvent&) { return true; }, deadline);
    if (!event) {
      return method_error("timeout", "frame " + frame_label(frame.number) + " (" + frame.url +
                                         ") has no script context after 5 s; it may still be loading, try again");
    }
    update_contexts(contexts, *event);
  }
  target.context_id = contexts.context_of_frame[frame.frame_id];
  return target;
}

std::expected<FrameInfo, MethodError> selected_frame(Browser& browser, Tab& tab) {
  if (!frames_of(tab).selected) {
    FrameInfo main;
    main.session_id = tab.session_id;
    main.session_root = true;
    return main;
  }
  const SelectedFrame chosen = *frames_of(tab).selected;
  auto frames = list_frames(browser, tab);
  if (!frames) return std::unexpected(frames.error());
  const FrameInfo* frame = frames->by_id(chosen.frame_id);
  const std::string label = frame_label(chosen.number);
  if (frame == nullptr) {
    return frame_not_found("the selected frame " + label + " (" + chosen.url +
                           ") is gone: its iframe was removed or the page navigated; choose another with "
                           "`vesk frame select` (see `vesk frame list`) or return with `vesk frame main`");
  }
  if (frame->loader_id != chosen.loader_id) {
    return frame_not_found("the selected frame " + label + " navigated away from " + chosen.url + " (it now shows " +
                           frame->url + "); select it again with `vesk frame select " + label +
                           "` or return with `vesk frame main`");
  }
  return *frame;
}

std::expected<ScriptTarget, MethodError> selected_script_target(Browser& browser, Tab& tab) {
  auto frame = selected_frame(browser, tab);
  if (!frame) return std::unexpected(frame.error());
  return script_target(browser, tab, *frame);
}

MethodResult evaluate_in_selected_frame(Browser& browser, Tab& tab, const std::string& expression,
                                        std::chrono::milliseconds timeout) {
  auto target = selected_script_target(browser, tab);
  if (!target) return std::unexpected(target.error());
  return evaluate_in(browser, tab, *target, expression, timeout);
}

std::expected<FrameOffset, MethodError> frame_offset(Browser& browser, Tab& tab, const FrameList& frames,
                                                     const FrameInfo& frame) {
  FrameOffset offset;
  const FrameInfo* current = &frame;
  while (current->session_id != tab.session_id) {
    // The top frame of this session: its iframe element lives in the parent's session.
    while (!current->session_root) {
      current = frames.by_id(current->parent_id);
      if (current == nullptr) return frame_not_found("frame " + frame_label(frame.number) + " lost its parent frame");
    }
    const FrameInfo* parent = frames.by_id(current->parent_id);
    if (parent == nullptr) return frame_not_found("frame " + frame_label(frame.number) + " lost its parent frame");
    auto owner = browser.call_in(tab, parent->session_id, "DOM.getFrameOwner", {{"frameId", current->frame_id}});
    if (!owner) return std::unexpected(from_cdp(owner.error(), "failed to find the iframe of frame " + frame_label(current->number)));
    auto box = browser.call_in(tab, parent->session_id, "DOM.getBoxModel",
                               {{"backendNodeId", owner->value("backendNodeId", std::int64_t{0})}});
    if (!box) {
      return method_error("elementNotVisible", "the iframe of frame " + frame_label(current->number) +
                                                   " has no box on the page (it is hidden)");
    }
    const Json content = box->value("model", Json::object()).value("content", Json::array());
    if (content.size() < 2) return method_error("elementNotVisible", "the iframe of frame " + frame_label(current->number) + " has no box");
    offset.x += content[0].get<double>();
    offset.y += content[1].get<double>();
    current = parent;
  }
  return offset;
}

}  // namespace vesk::browser
