#pragma once
// Finding the element a method acts on. A target is either a snapshot ref ("e12", or
// "f2e12" inside frame f2), which names the element that the tab's snapshots gave that ref
// within the frame's current document, a CSS selector (the first match, searched in the
// frame chosen with `frame select` and in its open shadow roots), or a text= / role=
// locator (the first match). A ref whose element or frame is gone, or that belongs to an
// earlier document, is "staleRef": acting on something else silently would be worse; a ref
// no snapshot of the tab gave is "elementNotFound".

#include <cstdint>
#include <expected>
#include <string>

#include "browser/core/browser.hpp"
#include "browser/core/method_result.hpp"

namespace vesk::browser {

struct ElementHandle {
  std::string object_id;        // Runtime remote object of the element (in session_id)
  std::int64_t backend_node_id = 0;
  std::string target;           // the ref or selector as given
  std::string session_id;       // the DevTools session of the element's frame
  // Where the element's frame's viewport starts on the page: boxes Chromium gives for an
  // element of an out-of-process frame are relative to that frame.
  double frame_x = 0;
  double frame_y = 0;
};

// "e" followed by digits, or "f" digits "e" digits.
bool is_ref(const std::string& target);
// A Playwright-style locator: "text=Sign in", "text=\"Sign in\"", "role=button[name=\"Sign in\"]"
// (page script locate.js reads them; open shadow roots are searched too).
bool is_locator(const std::string& target);

// An identity of the tab's current document: the main frame's loader id.
std::expected<std::string, MethodError> document_key(Browser& browser, Tab& tab);

std::expected<ElementHandle, MethodError> find_element(Browser& browser, Tab& tab,
                                                       const std::string& target);

// A DevTools command about the element, on its frame's session.
CdpResult element_command(Browser& browser, Tab& tab, const ElementHandle& element, const std::string& method, Json params);
// Calls `function_source` with `this` bound to the element (see call_on_object).
MethodResult call_on_element(Browser& browser, Tab& tab, const ElementHandle& element,
                             const std::string& function_source, const Json& arguments = Json::array());

// How many elements the selector matches (a ref counts 1, or 0 when stale).
std::expected<std::int64_t, MethodError> count_elements(Browser& browser, Tab& tab,
                                                        const std::string& target);

}  // namespace vesk::browser
