#pragma once
// Running JavaScript in a tab: expressions in the page's main world and functions called
// on one element. Values come back as JSON (returnByValue); a thrown exception is
// "evaluationFailed" with the exception's text.

#include <chrono>
#include <string>

#include "base/json.hpp"
#include "browser/core/browser.hpp"
#include "browser/core/method_result.hpp"

namespace vesk::browser {

// The value of `expression` (promises awaited). Undefined comes back as null.
MethodResult evaluate(Browser& browser, Tab& tab, const std::string& expression,
                      std::chrono::milliseconds timeout = kCommandTimeout);

// Calls `function_source` ("function(a) { ... }") with `this` bound to the remote object
// and `arguments` given as JSON values; the returned value as JSON.
MethodResult call_on_object(Browser& browser, Tab& tab, const std::string& object_id,
                            const std::string& function_source, const Json& arguments = Json::array(),
                            std::chrono::milliseconds timeout = kCommandTimeout);

// The text of a thrown exception from Runtime's exceptionDetails.
std::string exception_text(const Json& details);

// A JavaScript string literal for `text` (JSON string syntax is valid JavaScript).
std::string js_string(const std::string& text);

}  // namespace vesk::browser
