// "frame": the frames of a tab, and which one later CSS selectors and page scripts of the
// tab act in.
//   vesk frame | frame list          the frames: id, URL, name, parent, cross-origin or not
//   vesk frame select ID|NAME|URL-SUBSTRING|REF-OF-THE-IFRAME
//   vesk frame main                  back to the main frame
#include "browser/core/element_lookup.hpp"
#include "browser/core/frames.hpp"
#include "browser/core/method_table.hpp"

namespace vesk::browser {

namespace {

Json frame_json(const FrameList& frames, const FrameInfo& frame) {
  Json parent = nullptr;
  if (const FrameInfo* up = frames.by_id(frame.parent_id)) parent = frame_label(up->number);
  return {{"id", frame_label(frame.number)}, {"url", frame.url},          {"name", frame.name},
          {"parent", parent},                {"depth", frame.depth},      {"crossOrigin", frame.cross_origin},
          {"outOfProcess", frame.out_of_process}};
}

std::string listing(const FrameList& frames) {
  std::string text;
  for (const auto& frame : frames.frames) {
    text += (text.empty() ? "" : ", ") + frame_label(frame.number) + " " + frame.url;
  }
  return text;
}

MethodResult list(Browser& browser, Tab& tab) {
  auto frames = list_frames(browser, tab);
  if (!frames) return std::unexpected(frames.error());
  Json out = Json::array();
  for (const auto& frame : frames->frames) out.push_back(frame_json(*frames, frame));
  Json result = {{"tab", tab.id}, {"frames", out}, {"selected", "main"}};
  if (frames_of(tab).selected) {
    result["selected"] = frame_label(frames_of(tab).selected->number);
    const FrameInfo* chosen = frames->by_id(frames_of(tab).selected->frame_id);
    if (chosen == nullptr) result["selectedState"] = "gone";
    else if (chosen->loader_id != frames_of(tab).selected->loader_id) result["selectedState"] = "navigated";
  }
  if (frames->omitted > 0) {
    result["omitted"] = frames->omitted;
    result["note"] = std::to_string(frames->omitted) + " frame(s) beyond " + std::to_string(kMaxFrameDepth) +
                     " levels or " + std::to_string(kMaxFrames) + " frames are not listed";
  }
  return result;
}

// The frame an iframe element (given by ref or selector) holds.
std::expected<const FrameInfo*, MethodError> frame_of_iframe(Browser& browser, Tab& tab, const FrameList& frames,
                                                             const std::string& target) {
  auto element = find_element(browser, tab, target);
  if (!element) return std::unexpected(element.error());
  auto described = element_command(browser, tab, *element, "DOM.describeNode", {{"objectId", element->object_id}});
  if (!described) return std::unexpected(from_cdp(described.error(), "failed to inspect " + target));
  const Json node = described->value("node", Json::object());
  const std::string frame_id = node.value("frameId", "");
  const std::string tag = node.value("nodeName", "");
  if (frame_id.empty() || (tag != "IFRAME" && tag != "FRAME")) {
    return invalid_argument(target + " is a <" + tag + ">, not an iframe; give the ref of an iframe node from "
                                                       "`vesk snap -i` or a frame id from `vesk frame list`");
  }
  const FrameInfo* frame = frames.by_id(frame_id);
  if (frame == nullptr) return method_error("frameNotFound", "the iframe " + target + " holds no frame that can be read now (it may still be loading, or be past the frame limits)");
  return frame;
}

std::expected<const FrameInfo*, MethodError> find_frame(Browser& browser, Tab& tab, const FrameList& frames,
                                                        const std::string& wanted) {
  if (wanted.size() > 1 && wanted[0] == 'f' && wanted.find('e') == std::string::npos) {
    if (auto ref = parse_ref(wanted + "e1")) {
      if (const FrameInfo* frame = frames.by_number(ref->frame)) return frame;
      return method_error("frameNotFound", "no frame " + wanted + " in tab " + tab.id + " (frames: " + listing(frames) + ")");
    }
  }
  if (parse_ref(wanted.starts_with("@") ? wanted.substr(1) : wanted)) return frame_of_iframe(browser, tab, frames, wanted);
  for (const auto& frame : frames.frames) {
    if (frame.number != 0 && frame.name == wanted) return &frame;
  }
  std::vector<const FrameInfo*> by_url;
  for (const auto& frame : frames.frames) {
    if (frame.number != 0 && frame.url.find(wanted) != std::string::npos) by_url.push_back(&frame);
  }
  if (by_url.size() == 1) return by_url.front();
  if (by_url.size() > 1) {
    std::string which;
    for (const FrameInfo* frame : by_url) which += (which.empty() ? "" : ", ") + frame_label(frame->number) + " " + frame->url;
    return invalid_argument("\"" + wanted + "\" matches the URLs of " + std::to_string(by_url.size()) +
                            " frames (" + which + "); select one by its id");
  }
  return method_error("frameNotFound", "no frame of tab " + tab.id + " has the id, name or URL part \"" + wanted +
                                           "\" (frames: " + listing(frames) + "); see `vesk frame list`");
}

MethodResult select(Browser& browser, Tab& tab, const std::string& wanted) {
  if (wanted == "main") {
    frames_of(tab).selected.reset();
    return Json{{"tab", tab.id}, {"selected", "main"}};
  }
  auto frames = list_frames(browser, tab);
  if (!frames) return std::unexpected(frames.error());
  auto frame = find_frame(browser, tab, *frames, wanted);
  if (!frame) return std::unexpected(frame.error());
  if ((*frame)->number == 0) {
    frames_of(tab).selected.reset();
  } else {
    frames_of(tab).selected = SelectedFrame{(*frame)->frame_id, (*frame)->loader_id, (*frame)->number, (*frame)->url};
  }
  return Json{{"tab", tab.id}, {"selected", frame_json(*frames, **frame)}};
}

MethodResult frame(Browser& browser, Tab& tab, const Json& params) {
  const auto words = words_of(params);
  const std::string usage = "; use `frame` or `frame list`, `frame select ID|NAME|URL-PART|IFRAME-REF`, or `frame main`";
  if (words.empty() || (words.size() == 1 && words[0] == "list")) return list(browser, tab);
  if (words[0] == "main" && words.size() == 1) return select(browser, tab, "main");
  if (words[0] == "select") {
    if (words.size() < 2) return invalid_argument("frame select needs the frame: its id (f2), name, part of its URL, or the ref of its iframe" + usage);
    return select(browser, tab, joined_words(params, 1));
  }
  return invalid_argument("unknown frame command \"" + joined_words(params) + "\"" + usage);
}

}  // namespace

void add_frame_methods(MethodTable& table) { table["frame"] = tab_method(frame); }

}  // namespace vesk::browser
