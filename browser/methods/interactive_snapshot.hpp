#pragma once
// The interactive snapshot ("snap -i") built from the DOM instead of the accessibility
// tree: on a page with a thousand controls Chromium needs hundreds of milliseconds to
// serialise its whole accessibility tree, while a walk over the DOM in the page takes a
// few. The page script finds the elements that can be acted on, with their role, name and
// state worked out the way the accessibility tree does for common markup; each element's
// DOM backend node id (from DOM.getDocument, matched by walk order) gives it the same ref
// the accessibility-tree snapshots give it.
//
// Both walks go the same way through one frame's document: an element, then the tree of
// its shadow root (open or closed; closed roots are handed to the script, which cannot
// reach them otherwise), then its children. Iframe contents are other frames' documents
// and are walked on their own; the walk reports each visible iframe element, with the
// frame it holds, so that the frame's nodes can be listed under it.

#include <cstdint>
#include <expected>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/json.hpp"
#include "browser/core/browser.hpp"
#include "browser/core/frames.hpp"
#include "browser/core/method_result.hpp"
#include "browser/core/page_script.hpp"

namespace vesk::browser {

// DOM.getDocument (whole depth, shadow roots and same-process frame documents included)
// of one DevTools session, and where each frame's document sits in it.
struct SessionDocument {
  std::unique_ptr<Json> root;  // held by pointer: the index points into it
  std::map<std::string, const Json*> document_of_frame;  // frame id -> its #document node
};
// Reading it takes Chromium hundreds of milliseconds on a large page: the read is sent
// first and awaited later, so that the page script can run meanwhile.
std::expected<SentCall, MethodError> start_reading_session_document(Browser& browser, Tab& tab,
                                                                    const std::string& session_id);
std::expected<SessionDocument, MethodError> finish_reading_session_document(Browser& browser, Tab& tab,
                                                                            SentCall& reading);

// The elements of one document in walk order, from a DOM.getDocument node. Pure.
struct ElementOrder {
  std::vector<std::int64_t> backend_ids;
  std::vector<std::string> tags;       // upper case, as nodeName
  std::vector<std::string> frame_ids;  // the frame an iframe element holds; empty otherwise
  std::vector<std::int64_t> closed_shadow_roots;  // backend ids, in walk order
};
ElementOrder element_order(const Json& document);

// Where the page script of a frame runs: its target, and the object it is called on (the
// scope element, or the global object of a session's top frame; empty: the frame's
// context). Resolved before the document's read is sent, so that no round trip of its own
// waits behind that read in the page.
struct CollectorTarget {
  ScriptTarget script;
  std::string this_object_id;
};
std::expected<CollectorTarget, MethodError> collector_target(Browser& browser, Tab& tab, const FrameInfo& frame,
                                                             const std::string& scope_object_id);

// What the page script finds in one frame, walking into the given closed shadow roots
// (remote object ids): {"count": elements walked, "items": [[walk index, tag, node], ...]}.
std::expected<Json, MethodError> collect_interactive_elements(Browser& browser, Tab& tab, const CollectorTarget& target,
                                                              const std::vector<std::string>& closed_roots);

// The node list of one frame from what the page script collected (refs without the frame
// prefix; iframe nodes carry the member "frameId" of the frame they hold), or nullopt when
// the page changed between the document's read and the script's walk (the caller then
// falls back to the accessibility tree).
std::optional<Json> match_collected_elements(const ElementOrder& order, Json collected, SnapshotState& refs);

// For a frame whose document was read already: its closed shadow roots resolved, the page
// script run with them, and what it found matched to the document.
std::expected<std::optional<Json>, MethodError> interactive_nodes_from_dom(Browser& browser, Tab& tab,
                                                                            const FrameInfo& frame,
                                                                            const CollectorTarget& target,
                                                                            const ElementOrder& order,
                                                                            SnapshotState& refs);

}  // namespace vesk::browser
