#pragma once
// The frames of a tab: its main frame, the iframes Chromium runs in the tab's own process
// (reached through the tab's DevTools session), and the iframes it runs in processes of
// their own (another site), each reached through a session of its own. Every iframe gets a
// short number the first time it is seen, "f1", "f2", ..., kept for as long as the frame
// exists and never reused within the tab; refs of elements inside a frame carry it
// ("f1e4": element 4 of frame 1). Element refs of the main frame have no prefix ("e4").
//
// How deep and how many frames are followed is bounded; what lies beyond is counted as
// omitted, never silently dropped.

#include <cstdint>
#include <map>
#include <memory>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.hpp"
#include "browser/core/browser.hpp"
#include "browser/core/method_result.hpp"
#include "browser/core/page_script.hpp"

namespace vesk::browser {

// The main-world script context of each frame of one DevTools session, learnt from the
// session's Runtime events (subscribed before Runtime.enable, which reports the contexts
// that exist already).
struct SessionContexts {
  std::shared_ptr<EventQueue> events;
  std::map<std::string, std::int64_t> context_of_frame;  // frame id -> execution context id
};

// The frame chosen with `frame select`: later selectors and page scripts of the tab act in
// it, for as long as it shows the document it showed when it was chosen.
struct SelectedFrame {
  std::string frame_id;
  std::string loader_id;
  int number = 0;
  std::string url;
};

// What a tab remembers of its iframes (its state<TabFrames>()): their short numbers, never
// reused within the tab; the element refs of each frame's document; the DevTools sessions
// of frames Chromium runs in processes of their own; the script contexts of every session.
struct TabFrames {
  std::map<std::string, int> number_of_frame;  // frame id -> number
  std::map<int, std::string> frame_of_number;
  int next_number = 1;
  std::map<int, SnapshotState> refs;                // by frame number (the main frame's are Tab::snapshot)
  std::map<std::string, std::string> sessions;      // out-of-process frame's target id -> session id
  std::map<std::string, SessionContexts> contexts;  // by session id
  std::optional<SelectedFrame> selected;
};
inline TabFrames& frames_of(Tab& tab) { return tab.state<TabFrames>(); }

inline constexpr int kMaxFrameDepth = 10;        // the main frame is depth 0
inline constexpr std::size_t kMaxFrames = 100;   // iframes, the main frame not counted

struct FrameInfo {
  std::string frame_id;
  std::string parent_id;   // empty for the main frame
  std::string session_id;  // the DevTools session that owns the frame's document
  std::string loader_id;   // the identity of the document the frame shows now
  std::string url;
  std::string name;
  std::string origin;
  int number = 0;  // 0: the main frame
  int depth = 0;
  bool out_of_process = false;  // reached through a session of its own
  bool session_root = false;    // the top frame of its session (scripts need no context id)
  bool cross_origin = false;    // another origin than the main frame
};

struct FrameList {
  std::vector<FrameInfo> frames;  // the main frame first, then each frame before its children
  std::size_t omitted = 0;        // frames past kMaxFrameDepth or kMaxFrames
  [[nodiscard]] const FrameInfo* by_id(std::string_view frame_id) const;
  [[nodiscard]] const FrameInfo* by_number(int number) const;
  [[nodiscard]] const FrameInfo& main() const { return frames.front(); }
};

// Reads the tab's frames now (numbering new ones, attaching to new out-of-process ones).
std::expected<FrameList, MethodError> list_frames(Browser& browser, Tab& tab);

// "main" for 0, "f3" for 3.
std::string frame_label(int number);

// A ref split into its frame and its element: "f2e7" -> {2, "e7"}, "e7" -> {0, "e7"}.
struct RefName {
  int frame = 0;
  std::string element;
};
std::optional<RefName> parse_ref(std::string_view text);
std::string ref_text(int frame, const std::string& element);

// The element refs of a frame's documents (Tab::snapshot for the main frame). When the
// frame shows a new document the refs of the old one are forgotten, while the numbering
// goes on, so that a ref of the old document can never name an element of the new one.
SnapshotState& frame_refs(Tab& tab, const FrameInfo& frame);
void start_document(SnapshotState& state, const std::string& document_key);

// Where page scripts of the frame run (see ScriptTarget).
std::expected<ScriptTarget, MethodError> script_target(Browser& browser, Tab& tab, const FrameInfo& frame);

// The frame chosen with `frame select`, or the main frame. A chosen frame that was removed
// or shows another document is "frameNotFound" saying so (never a silent fall-back).
std::expected<FrameInfo, MethodError> selected_frame(Browser& browser, Tab& tab);
std::expected<ScriptTarget, MethodError> selected_script_target(Browser& browser, Tab& tab);
// evaluate() in the selected frame.
MethodResult evaluate_in_selected_frame(Browser& browser, Tab& tab, const std::string& expression,
                                        std::chrono::milliseconds timeout = kCommandTimeout);

// Where a frame's viewport starts on the page, in page (main viewport) coordinates: zero for
// frames of the tab's own process, whose boxes Chromium already gives in page coordinates;
// for an out-of-process frame, the content box of its iframe element, and so on upwards.
struct FrameOffset {
  double x = 0;
  double y = 0;
};
std::expected<FrameOffset, MethodError> frame_offset(Browser& browser, Tab& tab, const FrameList& frames,
                                                     const FrameInfo& frame);

}  // namespace vesk::browser
