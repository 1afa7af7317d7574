#include "browser/core/page_script.hpp"

#include "browser/js/page_scripts.hpp"

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

std::string with_element_facts(std::string_view function_source) {
  return "function(...args) { return (" + std::string(function_source) + ").call(this, (" +
         std::string(js::element_facts) + ")(), ...args); }";
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
  return evaluate_in(browser, tab, ScriptTarget{}, expression, timeout);
}

MethodResult evaluate_in(Browser& browser, Tab& tab, const ScriptTarget& target, const std::string& expression,
                         std::chrono::milliseconds timeout) {
  Json params = {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}, {"userGesture", true}};
  if (target.context_id) params["contextId"] = *target.context_id;
  auto reply = browser.call_in(tab, target.session_id, "Runtime.evaluate", std::move(params), timeout);
  return value_of(reply, "script failed");
}

std::expected<std::string, MethodError> global_object(Browser& browser, Tab& tab, const std::string& session_id) {
  auto global = browser.call_in(tab, session_id, "Runtime.evaluate",
                                browser.in_call_group(tab, session_id, {{"expression", "globalThis"}}));
  if (!global) return std::unexpected(from_cdp(global.error(), "failed to reach the page's scripts"));
  return global->value("result", Json::object()).value("objectId", "");
}

MethodResult call_with_objects(Browser& browser, Tab& tab, const ScriptTarget& target,
                               const std::string& function_source, const std::vector<std::string>& object_ids,
                               const std::string& this_object_id, std::chrono::milliseconds timeout) {
  Json args = Json::array();
  for (const auto& object_id : object_ids) args.push_back({{"objectId", object_id}});
  Json params = {{"functionDeclaration", function_source}, {"arguments", args}, {"returnByValue", true},
                 {"awaitPromise", true}};
  if (!this_object_id.empty()) {
    params["objectId"] = this_object_id;
  } else if (target.context_id) {
    params["executionContextId"] = *target.context_id;
  } else {
    auto global = global_object(browser, tab, target.session_id);
    if (!global) return std::unexpected(global.error());
    params["objectId"] = *global;
  }
  auto reply = browser.call_in(tab, target.session_id, "Runtime.callFunctionOn", std::move(params), timeout);
  return value_of(reply, "page script failed");
}

MethodResult call_on_object(Browser& browser, Tab& tab, const std::string& object_id,
                            const std::string& function_source, const Json& arguments,
                            std::chrono::milliseconds timeout) {
  return call_on_object_in(browser, tab, std::string(), object_id, function_source, arguments, timeout);
}

MethodResult call_on_object_in(Browser& browser, Tab& tab, const std::string& session_id, const std::string& object_id,
                               const std::string& function_source, const Json& arguments,
                               std::chrono::milliseconds timeout) {
  Json args = Json::array();
  for (const auto& argument : arguments) args.push_back({{"value", argument}});
  auto reply = browser.call_in(tab, session_id, "Runtime.callFunctionOn",
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
