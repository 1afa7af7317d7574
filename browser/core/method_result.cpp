#include "browser/core/method_result.hpp"

namespace vesk::browser {

MethodError from_cdp(const CdpFailure& failure, std::string_view what) {
  const std::string prefix(what);
  switch (failure.kind) {
    case CdpFailureKind::Timeout:
      return {"timeout",
              prefix + ": Chromium did not answer in time (" + failure.message +
                  "); the page may be busy: retry, or reload the page",
              nullptr};
    case CdpFailureKind::Closed:
      return {"browserError", prefix + ": Chromium is gone (" + failure.message + ")", nullptr};
    case CdpFailureKind::DialogOpen: {
      std::string type = failure.dialog.value("type", std::string("alert"));
      std::string message = failure.dialog.value("message", std::string());
      return {"dialogOpen",
              prefix + ": a JavaScript " + type + " dialog is open (\"" + message +
                  "\"); answer it with `vesk dialog accept` or `vesk dialog dismiss` first",
              Json{{"dialog", failure.dialog}}};
    }
    case CdpFailureKind::TooLarge:
      return {"invalidArgument", prefix + ": " + failure.message, nullptr};
    case CdpFailureKind::Protocol:
      break;
  }
  return {"actionFailed", prefix + ": " + failure.message, nullptr};
}

Json unwrap(CdpResult reply, std::string_view what) {
  if (!reply) throw MethodFailure{from_cdp(reply.error(), what)};
  return std::move(*reply);
}

}  // namespace vesk::browser
