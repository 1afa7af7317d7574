#include "browser/trackers/page_errors.hpp"

#include "browser/trackers/console.hpp"

namespace vesk::browser {

PageError page_error_of(const Json& event_params) {
  const Json details = event_params.value("exceptionDetails", Json::object());
  PageError error;
  error.time_ms = event_params.value("timestamp", 0.0);
  error.exception_id = details.value("exceptionId", 0);
  const Json exception = details.value("exception", Json::object());
  std::string description = exception.value("description", "");
  // The description is the message followed by the stack as text; the stack comes apart.
  if (auto newline = description.find('\n'); newline != std::string::npos) description.resize(newline);
  const std::string text = details.value("text", "");  // "Uncaught" or "Uncaught (in promise)"
  if (description.empty() && exception.contains("value")) {
    description = exception["value"].is_string() ? exception.value("value", "") : exception["value"].dump();
  }
  if (description.empty()) error.message = text;
  else if (text.empty() || text == "Uncaught") error.message = description;
  else error.message = text + " " + description;
  error.url = details.value("url", "");
  error.line = details.value("lineNumber", -1) + 1;
  error.column = details.value("columnNumber", -1) + 1;
  for (const auto& frame : details.value("stackTrace", Json::object()).value("callFrames", Json::array())) {
    if (error.stack.size() == PageErrorTracker::kMaxFrames) break;
    error.stack.push_back(StackFrame{frame.value("functionName", ""), frame.value("url", ""),
                                     frame.value("lineNumber", -1) + 1, frame.value("columnNumber", -1) + 1});
  }
  if (error.url.empty() && !error.stack.empty()) error.url = error.stack.front().url;
  return error;
}

std::expected<void, CdpFailure> PageErrorTracker::start(const TabTrackerContext& context) {
  return enable_runtime(context);
}

void PageErrorTracker::on_event(const CdpEvent& event) {
  if (event.method == "Runtime.exceptionRevoked") {
    const int revoked = event.params.value("exceptionId", 0);
    remove_if([&](const PageError& error) { return error.exception_id == revoked && revoked != 0; });
    return;
  }
  if (event.method != "Runtime.exceptionThrown") return;
  PageError error = page_error_of(event.params);
  add(std::move(error));
}

std::unique_ptr<TabTracker> make_page_error_tracker(const TabTrackerContext&) {
  return std::make_unique<PageErrorTracker>();
}

}  // namespace vesk::browser
