#pragma once
// What a browser method answers: a JSON result, or an error with a code an agent can act
// on and a message telling it what to do next. The codes:
//   invalidArgument   the params do not make sense (missing selector, bad number, ...)
//   elementNotFound   no element matches the selector
//   staleRef          a snapshot ref whose element is gone (take a new snapshot)
//   tabNotFound       no tab has the given id
//   navigationFailed  Chromium could not load the URL (its reason is in the message)
//   timeout           something did not happen in time (the page may be busy)
//   evaluationFailed  page script threw (the exception text is in the message)
//   dialogOpen        a JavaScript dialog blocks the page until it is accepted or dismissed
//   actionFailed      Chromium refused the operation (its reason is in the message)
//   unsupportedMethod this browser does not implement the method
//   browserError      Chromium can no longer serve at all (the caller restarts the instance)

#include <expected>
#include <string>
#include <string_view>
#include <type_traits>

#include "base/json.hpp"
#include "browser/chromium/devtools_client.hpp"

namespace vesk::browser {

struct MethodError {
  std::string code;
  std::string message;
  Json details;  // null when there is nothing to add
};

using MethodResult = std::expected<Json, MethodError>;

inline std::unexpected<MethodError> method_error(std::string code, std::string message,
                                                 Json details = nullptr) {
  return std::unexpected(MethodError{std::move(code), std::move(message), std::move(details)});
}
inline std::unexpected<MethodError> invalid_argument(std::string message) {
  return method_error("invalidArgument", std::move(message));
}

// A DevTools failure as a method error: a timeout is "timeout", a closed pipe
// "browserError", an open dialog "dialogOpen"; a protocol error is "actionFailed" with
// Chromium's text under `what` ("failed to click #save").
MethodError from_cdp(const CdpFailure& failure, std::string_view what);

// Thrown by unwrap() inside a method and caught once, where the method is served (see
// serve_method), so that a handler reads as a line of steps instead of a check after each.
struct MethodFailure {
  MethodError error;
};

template <class T>
T unwrap(std::expected<T, MethodError> result) {
  if (!result) throw MethodFailure{std::move(result.error())};
  if constexpr (!std::is_void_v<T>) return std::move(*result);
}

// The reply's result, or its failure as the method's error under `what` (see from_cdp).
Json unwrap(CdpResult reply, std::string_view what);

}  // namespace vesk::browser
