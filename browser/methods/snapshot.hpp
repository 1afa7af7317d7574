#pragma once
// "page.snapshot": the page as an agent reads it, built from Chromium's accessibility tree.
//
// Answer: {"tab": id, "snapshot": {"title", "url", "nodes": [{"id": "e1", "role",
// "name", ...}]}} with nodes in document order. Node ids are refs: the same element keeps
// its ref across snapshots of the same document (keyed by its DOM backend node id), and
// every element method accepts a ref in place of a CSS selector.
//
// Options: "interactive" (only what can be acted on), "compact" (no unnamed structure),
// "full" (every node Chromium exposes, its internal roles included), "maxTokens" (cut
// the node list to a token budget; "truncated" says so), "diff" (adds "diff": what was
// added, removed or changed since the tab's previous snapshot in the same mode). A
// "selector" limits the snapshot to that element's subtree.

#include <string>

#include "base/json.hpp"
#include "browser/core/browser.hpp"
#include "browser/core/method_result.hpp"

namespace vesk::browser {

enum class SnapshotMode { Default, Interactive, Compact, Full };

struct SnapshotRequest {
  SnapshotMode mode = SnapshotMode::Default;
  std::string selector;  // empty: the whole page
  std::size_t max_tokens = 0;  // 0: no budget
  bool diff = false;
};

// Makes the tab's ref table belong to its current document: a new document starts a new
// table, so refs of the old one never reach its elements.
std::expected<void, MethodError> enter_current_document(Browser& browser, Tab& tab);

// The ref of the element with this DOM backend node id, given a new one on first sight.
std::string assign_ref(SnapshotState& state, std::int64_t backend_id);

// Turns a raw Accessibility.getFullAXTree answer into our node list, giving refs through
// `state` (which must already belong to the current document). `scope_backend_id` limits
// it to that DOM node's subtree (0: everything). Pure: no browser calls.
Json snapshot_nodes(const Json& ax_nodes, SnapshotMode mode, SnapshotState& state,
                    std::int64_t scope_backend_id = 0);

// Cuts `nodes` to about `max_tokens` tokens (four characters of a listing line each).
// Returns whether anything was cut.
bool cut_to_token_budget(Json& nodes, std::size_t max_tokens);

// What changed from `before` to `after` (node lists with refs): {"added": [nodes],
// "removed": [refs], "changed": [nodes]}.
Json diff_nodes(const Json& before, const Json& after);

MethodResult take_snapshot(Browser& browser, Tab& tab, const SnapshotRequest& request);

}  // namespace vesk::browser
