#pragma once
// Finding the element a method acts on. A target is either a snapshot ref ("e12"), which
// names the element that the tab's snapshots gave that ref within the current document,
// or a CSS selector (the first match). A ref whose element is gone, or that belongs to an
// earlier document, is "staleRef": acting on something else silently would be worse.

#include <cstdint>
#include <expected>
#include <string>

#include "browser/core/browser.hpp"
#include "browser/core/method_result.hpp"

namespace vesk::browser {

struct ElementHandle {
  std::string object_id;        // Runtime remote object of the element
  std::int64_t backend_node_id = 0;
  std::string target;           // the ref or selector as given
};

// "e" followed by digits.
bool is_ref(const std::string& target);

// An identity of the tab's current document: the main frame's loader id.
std::expected<std::string, MethodError> document_key(Browser& browser, Tab& tab);

std::expected<ElementHandle, MethodError> find_element(Browser& browser, Tab& tab,
                                                       const std::string& target);

// How many elements the selector matches (a ref counts 1, or 0 when stale).
std::expected<std::int64_t, MethodError> count_elements(Browser& browser, Tab& tab,
                                                        const std::string& target);

}  // namespace vesk::browser
