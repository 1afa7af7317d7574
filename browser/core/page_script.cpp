#include "browser/core/page_script.hpp"

namespace vesk::browser {

std::string exception_text(const Json& details) {
  if (!details.is_object()) return "unknown exception";
  if (details.contains("exception") && details["exception"].is_object()) {
    const Json& exception = details["exception"];
    if (exception.contains("description") && exception["description"].is_string()) {
      std::string text = exception["description"].get<std::string>();
      // The first line names the error; the rest is a stack trace of little use to an agent.
      auto newline = text.find('\n');
      return newline == std::string::npos ? text : text.substr(0, newline);
    }
    if (exception.contains("value")) return exception["value"].dump();
  }
  return details.value("text", std::string("unknown exception"));
}

std::string js_string(const std::string& text) {
  return Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
}

namespace {

MethodResult value_of(const CdpResult& reply, const std::string& what) {
  if (!reply) return std::unexpected(from_cdp(reply.error(), what));
  if (reply->contains("exceptionDetails")) {
    return method_error("evaluationFailed",
                        what + ": " + exception_text((*reply)["exceptionDetails"]) +
                            "; fix the script and try again");
  }
  const Json& result = reply->value("result", Json::object());
  if (result.contains("value")) return result["value"];
  // undefined, or a value that cannot be serialised (a DOM node, a function).
  if (result.value("type", "") == "undefined") return Json();
  if (result.contains("description")) return result["description"];
  return Json();
}

}  // namespace

MethodResult evaluate(Browser& browser, Tab& tab, const std::string& expression,
                      std::chrono::milliseconds timeout) {
  auto reply = browser.call(tab, "Runtime.evaluate",
                            {{"expression", expression},
                             {"returnByValue", true},
                             {"awaitPromise", true},
                             {"userGesture", true}},
                            timeout);
  return value_of(reply, "script failed");
}

MethodResult call_on_object(Browser& browser, Tab& tab, const std::string& object_id,
                            const std::string& function_source, const Json& arguments,
                            std::chrono::milliseconds timeout) {
  Json args = Json::array();
  for (const auto& argument : arguments) args.push_back({{"value", argument}});
  auto reply = browser.call(tab, "Runtime.callFunctionOn",
                            {{"objectId", object_id},
                             {"functionDeclaration", function_source},
                             {"arguments", args},
                             {"returnByValue", true},
                             {"awaitPromise", true},
                             {"userGesture", true}},
                            timeout);
  return value_of(reply, "script on the element failed");
}

}  // namespace vesk::browser
