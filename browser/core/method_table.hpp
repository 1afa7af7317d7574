#pragma once
// The method table: method name ("tab.navigate", "element.click", ...) to handler. The
// families in methods/ fill it (methods/all_methods.cpp lists them); serve_method runs one
// request through it. A method file includes this header for all it needs: the table, the
// params helpers and the tab-method adapter.

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "base/json.hpp"
#include "browser/core/browser.hpp"
#include "browser/core/method_result.hpp"
#include "browser/core/params.hpp"
#include "browser/core/tab_method.hpp"

namespace vesk::browser {

// This veskbrowser's version, named in answers a user may report.
extern const char* const kVeskbrowserVersion;

using MethodHandler = std::function<MethodResult(Browser&, const Json& params)>;
using MethodTable = std::map<std::string, MethodHandler, std::less<>>;

// Runs the method; a method not in the table is "unsupportedMethod". A MethodFailure thrown
// by unwrap() and a JSON exception (a reply or param of an unexpected shape) end here and
// become the method's error, so neither ever ends the process.
MethodResult serve_method(Browser& browser, const MethodTable& table, std::string_view method,
                          const Json& params);

}  // namespace vesk::browser
