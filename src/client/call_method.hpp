#pragma once
// The request path of every browser command: find or start the broker, send one
// request on a fresh connection, read one answer; on a browser-availability error,
// replace stale instances and retry for a short while.

#include <string>

#include "base/error.hpp"
#include "base/json.hpp"
#include "base/paths.hpp"

namespace vesk {

// The result value (the empty object when the answer has none, after session_hint), or
// an error chain; an error answer becomes "{code}: {message}".
Result<Json> call_method(const AppPaths& paths, const std::string& method, const Json& params);

}  // namespace vesk
