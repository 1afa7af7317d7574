// The real request sender, kept apart so that code using only the helpers of
// browser_request.hpp does not pull in the whole request path.
#include "cli/browser_request.hpp"
#include "client/call_method.hpp"

namespace vesk::cli {

RequestSender browser_sender(const AppPaths& paths) {
  return [paths](const std::string& method, const Json& params) {
    return call_method(paths, method, params);
  };
}

}  // namespace vesk::cli
