#pragma once
// Batches ("quick"): several command lines of the vesk command language served in one
// request. Each line is split as a shell would, parsed with the command line's own
// grammar and turned into the very request `vesk` would send for it; the requests are
// served in order, and the first error stops the batch.
//
// The answer: {"ok", "completed": how many succeeded, "total", "stoppedAt": the 1-based
// number of the command that failed or null, "results": [{"command", "method",
// "result" | "error": {"code", "message", "details"}}]}. A command that failed is listed
// with its error; nothing after it runs.

#include <functional>
#include <string>

#include "base/json.hpp"
#include "browser/core/method_result.hpp"

namespace vesk::browser {

// Serves one request of the batch (method, params) the way the browser serves any request.
using ServeRequest = std::function<MethodResult(const std::string& method, const Json& params)>;

// Runs the command lines in params["args"]. params["tab"], when set, is the tab for every
// command that does not name its own. Fails only when there is no command line at all.
MethodResult run_batch(const Json& params, const ServeRequest& serve);

}  // namespace vesk::browser
