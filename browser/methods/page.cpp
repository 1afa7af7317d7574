// Page methods: "page.title", "page.url", "page.text", "page.html", "page.eval".
// "page.scroll", "page.wait", "page.find" and "page.styles" live in page_queries.cpp.
#include "browser/core/element_lookup.hpp"
#include "browser/core/frames.hpp"
#include "browser/core/method_table.hpp"
#include "browser/core/page_script.hpp"
#include "browser/js/page_scripts.hpp"
#include "browser/methods/capped_output.hpp"

namespace vesk::browser {

namespace {

constexpr const char* kEvalObjectGroup = "vesk-eval";
// How much of a DOM node's outer HTML an eval answer shows.
constexpr int kNodeHtmlLimit = 300;

// Refuses words a method without words was given (`vesk title foo`).
std::expected<void, MethodError> refuse_words(const Json& params, const std::string& method) {
  auto words = words_of(params);
  if (words.empty()) return {};
  return invalid_argument(method + " takes no words; \"" + words.front() + "\" is not one it knows");
}

MethodResult page_title(Browser& browser, Tab& tab, const Json& params) {
  if (auto checked = refuse_words(params, "page.title"); !checked) return std::unexpected(checked.error());
  auto title = evaluate(browser, tab, "document.title");
  if (!title) return std::unexpected(title.error());
  return Json{{"title", *title}};
}

MethodResult page_url(Browser& browser, Tab& tab, const Json& params) {
  if (auto checked = refuse_words(params, "page.url"); !checked) return std::unexpected(checked.error());
  auto url = evaluate(browser, tab, "location.href");
  if (!url) return std::unexpected(url.error());
  return Json{{"url", *url}};
}

// The text or HTML of the element the words name, or of the whole page; capped, or
// written whole with --out (capped_output.hpp).
MethodResult page_content(Browser& browser, Tab& tab, const Json& params, bool html) {
  const std::string key = html ? "html" : "text";
  auto words = words_of(params);
  auto output = take_output_options(words);
  if (!output) return std::unexpected(output.error());
  auto selector = string_member(params, "selector");
  if (!selector && !words.empty()) selector = joined(words);
  if (!selector) {
    auto value = evaluate_in_selected_frame(browser, tab,
                          html ? "document.documentElement ? document.documentElement.outerHTML : ''"
                               : "document.body ? document.body.innerText : ''");
    if (!value) return std::unexpected(value.error());
    return answer_with_output(Json::object(), key, *value, *output);
  }
  auto element = find_element(browser, tab, *selector);
  if (!element) return std::unexpected(element.error());
  auto value = call_on_element(browser, tab, *element,
                              html ? "function() { return this.outerHTML; }"
                                   : "function() { return this.innerText ?? this.textContent; }");
  if (!value) return std::unexpected(value.error());
  return answer_with_output(Json{{"selector", *selector}}, key, *value, *output);
}

// A DOM node an eval returned, described: tag, id, the start of its outer HTML, and its
// ref when a snapshot of this document gave it one.
MethodResult describe_node(Browser& browser, Tab& tab, const ScriptTarget& where, const std::string& object_id) {
  auto described =
      call_on_object_in(browser, tab, where.session_id, object_id, std::string(js::eval_value), Json{kNodeHtmlLimit});
  if (!described) return std::unexpected(described.error());
  // Refs of the main frame's snapshot; a frame's nodes are described without one.
  if (where.frame != 0) return described;
  auto node = browser.call(tab, "DOM.describeNode", {{"objectId", object_id}});
  auto key = document_key(browser, tab);
  if (node && key && *key == tab.snapshot.document_key) {
    auto backend = node->value("node", Json::object()).value("backendNodeId", std::int64_t{0});
    auto ref = tab.snapshot.ref_of_node.find(backend);
    if (ref != tab.snapshot.ref_of_node.end()) (*described)["ref"] = ref->second;
  }
  return described;
}

// The JSON of what a script evaluated to: plain values as they are, DOM nodes described
// (also inside arrays and objects), what JSON cannot hold as its description.
MethodResult eval_result_value(Browser& browser, Tab& tab, const ScriptTarget& where, const Json& remote) {
  if (remote.contains("objectId")) {
    const std::string object_id = remote["objectId"].get<std::string>();
    if (remote.value("subtype", "") == "node") return describe_node(browser, tab, where, object_id);
    return call_on_object_in(browser, tab, where.session_id, object_id, std::string(js::eval_value),
                             Json{kNodeHtmlLimit});
  }
  if (remote.contains("value")) return remote["value"];
  // NaN, Infinity, -0 and big integers have no JSON number.
  if (remote.contains("unserializableValue")) return remote["unserializableValue"];
  return Json();
}

// The script runs as the DevTools console runs it (REPL mode): top-level const and let of
// one eval do not break the next, and top-level await works.
MethodResult page_eval(Browser& browser, Tab& tab, const Json& params) {
  auto words = words_of(params);
  auto output = take_output_options(words);
  if (!output) return std::unexpected(output.error());
  std::string script = string_member(params, "script").value_or(joined(words));
  if (script.empty()) return invalid_argument("page.eval needs a script, for example `vesk eval document.title`");
  // In the frame chosen with `frame select`, the main frame by default.
  auto target = selected_script_target(browser, tab);
  if (!target) return std::unexpected(target.error());
  Json request = {{"expression", script},     {"replMode", true},  {"returnByValue", false},
                  {"awaitPromise", true},     {"userGesture", true}, {"objectGroup", kEvalObjectGroup}};
  if (target->context_id) request["contextId"] = *target->context_id;
  auto reply = browser.call_in(tab, target->session_id, "Runtime.evaluate", request);
  if (!reply) return std::unexpected(from_cdp(reply.error(), "script failed"));
  if (reply->contains("exceptionDetails")) {
    return method_error("evaluationFailed",
                        "script failed: " + exception_text((*reply)["exceptionDetails"]) + "; fix the script and try again");
  }
  // REPL mode awaits only a top-level await: a script whose value is a promise is awaited here.
  const Json result = reply->value("result", Json::object());
  if (result.value("subtype", "") == "promise" && result.contains("objectId")) {
    reply = browser.call_in(tab, target->session_id, "Runtime.awaitPromise",
                            {{"promiseObjectId", result["objectId"]}, {"returnByValue", false}});
    if (!reply) return std::unexpected(from_cdp(reply.error(), "script failed"));
    if (reply->contains("exceptionDetails")) {
      return method_error("evaluationFailed", "script failed: " + exception_text((*reply)["exceptionDetails"]) +
                                                  "; fix the script and try again");
    }
  }
  auto value = eval_result_value(browser, tab, *target, reply->value("result", Json::object()));
  // The result object is ours alone: release it so a long session does not keep it alive.
  browser.release_object_group(tab, target->session_id, kEvalObjectGroup);
  if (!value) return std::unexpected(value.error());
  return answer_with_output(Json::object(), "value", *value, *output);
}

}  // namespace

void add_page_methods(MethodTable& table) {
  table["page.title"] = tab_method(page_title);
  table["page.url"] = tab_method(page_url);
  table["page.text"] = tab_method([](Browser& b, Tab& t, const Json& p) { return page_content(b, t, p, false); });
  table["page.html"] = tab_method([](Browser& b, Tab& t, const Json& p) { return page_content(b, t, p, true); });
  table["page.eval"] = tab_method(page_eval);
}

}  // namespace vesk::browser
