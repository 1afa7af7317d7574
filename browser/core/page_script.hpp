#pragma once
// Running JavaScript in a tab: expressions in the page's main world and functions called
// on one element. Values come back as JSON (returnByValue); a thrown exception is
// "evaluationFailed" with the exception's text.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "base/json.hpp"
#include "browser/core/browser.hpp"
#include "browser/core/method_result.hpp"

namespace vesk::browser {

// Where a script runs: a DevTools session (empty: the tab's) and, for a frame that is not
// the top frame of its session, the execution context of the frame's main world.
struct ScriptTarget {
  std::string session_id;
  std::optional<std::int64_t> context_id;
  int frame = 0;  // the frame's number ("f2"), 0 for the main frame; for messages
};

// The value of `expression` (promises awaited). Undefined comes back as null.
MethodResult evaluate(Browser& browser, Tab& tab, const std::string& expression,
                      std::chrono::milliseconds timeout = kCommandTimeout);

// Calls `function_source` ("function(a) { ... }") with `this` bound to the remote object
// and `arguments` given as JSON values; the returned value as JSON.
MethodResult call_on_object(Browser& browser, Tab& tab, const std::string& object_id,
                            const std::string& function_source, const Json& arguments = Json::array(),
                            std::chrono::milliseconds timeout = kCommandTimeout);

// The same in a frame.
MethodResult evaluate_in(Browser& browser, Tab& tab, const ScriptTarget& target, const std::string& expression,
                         std::chrono::milliseconds timeout = kCommandTimeout);
// call_on_object for an object of another session (an out-of-process frame's).
MethodResult call_on_object_in(Browser& browser, Tab& tab, const std::string& session_id, const std::string& object_id,
                               const std::string& function_source, const Json& arguments = Json::array(),
                               std::chrono::milliseconds timeout = kCommandTimeout);
// The global object of a session's top frame (empty: the tab's own session), as a remote
// object id: in a call it stands for the frame's context.
std::expected<std::string, MethodError> global_object(Browser& browser, Tab& tab, const std::string& session_id);
// Calls `function_source` with the remote objects `object_ids` as its arguments and `this`
// bound to the object `this_object_id`, or to the target's global object when that is
// empty.
MethodResult call_with_objects(Browser& browser, Tab& tab, const ScriptTarget& target,
                               const std::string& function_source, const std::vector<std::string>& object_ids,
                               const std::string& this_object_id = {},
                               std::chrono::milliseconds timeout = kCommandTimeout);
// A page function written to take the shared element helpers (js::element_facts: role,
// name, state, CSS path) as its first argument, made callable like any other: `this` and
// the caller's arguments pass through after the helpers.
std::string with_element_facts(std::string_view function_source);

// The text of a thrown exception from Runtime's exceptionDetails.
std::string exception_text(const Json& details);

// A JavaScript string literal for `text` (JSON string syntax is valid JavaScript).
std::string js_string(const std::string& text);

}  // namespace vesk::browser
