#pragma once
// How browser command handlers send their requests. Handlers take a sender rather than
// calling the request path directly, so that what they send and print can be checked
// in-process against a scripted browser.

#include <functional>
#include <optional>
#include <string>

#include "base/error.hpp"
#include "base/json.hpp"
#include "base/paths.hpp"

namespace vesk::cli {

// Sends one request (method, params) and returns the result value or the error.
using RequestSender = std::function<Result<Json>(const std::string& method, const Json& params)>;

// The real sender: every request goes through call_method with these paths.
RequestSender browser_sender(const AppPaths& paths);

// Sends one request and prints its result with print_result.
Status send_and_print(const RequestSender& send, const std::string& method, const Json& params);

// An optional string argument as a params member: the text, or null when not given.
Json text_or_null(const std::optional<std::string>& value);

// A path argument as params text. Paths are sent exactly as given, but only when they are
// valid UTF-8: otherwise "cannot send path {path shown}: path contains invalid UTF-8
// characters".
Result<std::string> path_text(const std::string& path);
Result<Json> path_text_or_null(const std::optional<std::string>& path);

// A path for messages: invalid UTF-8 sequences become U+FFFD, so it never fails.
std::string display_path(const std::string& path);

}  // namespace vesk::cli
