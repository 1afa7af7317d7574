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
#include "language/requests.hpp"

namespace vesk::cli {

// The real sender: every request goes through call_method with these paths.
RequestSender browser_sender(const AppPaths& paths);

// Sends one request and prints its result with print_result.
Status send_and_print(const RequestSender& send, const std::string& method, const Json& params);
Status send_and_print(const RequestSender& send, const BrowserRequest& request);

}  // namespace vesk::cli
