#pragma once
// The interactive snapshot ("snap -i") built from the DOM instead of the accessibility
// tree: on a page with a thousand controls Chromium needs hundreds of milliseconds to
// serialise its whole accessibility tree, while a walk over the DOM in the page takes a
// few. The page script finds the elements that can be acted on, with their role, name and
// state worked out the way the accessibility tree does for common markup; each element's
// DOM backend node id (from DOM.getDocument, matched by document order) gives it the same
// ref the accessibility-tree snapshots give it.

#include <cstdint>
#include <expected>
#include <optional>

#include "base/json.hpp"
#include "browser/core/browser.hpp"
#include "browser/core/method_result.hpp"

namespace vesk::browser {

// The node list, or nullopt when the page changed between the two reads (the caller then
// falls back to the accessibility tree). `scope_object_id` limits it to that element's
// subtree (empty: the whole page).
std::expected<std::optional<Json>, MethodError> interactive_nodes_from_dom(Browser& browser, Tab& tab,
                                                                            const std::string& scope_object_id);

// The backend node ids of the document's elements in document order (as
// document.querySelectorAll('*') lists them) and their tag names, from a DOM.getDocument
// answer. Pure.
struct ElementOrder {
  std::vector<std::int64_t> backend_ids;
  std::vector<std::string> tags;  // upper case, as nodeName
};
ElementOrder element_order(const Json& document_root);

}  // namespace vesk::browser
