// Page methods that look or wait: "page.scroll", "page.wait", "page.find", "page.styles".
//
//   scroll: [down|up|left|right [PIXELS]] | top | bottom | X Y | <element>
//   wait:   MILLISECONDS | load | domcontentloaded | networkidle | text=TEXT | --text TEXT |
//           url=PART | --url PART | gone=<element> | <element>;  "--timeout MS" bounds it
//   find:   TEXT  (elements whose own text contains it)
//   styles: <element> [PROPERTY...]
#include <cctype>
#include <thread>

#include "browser/core/element_lookup.hpp"
#include "browser/core/frames.hpp"
#include "browser/core/method_table.hpp"
#include "browser/core/page_script.hpp"
#include "browser/js/page_scripts.hpp"
#include "browser/methods/snapshot.hpp"

namespace vesk::browser {

namespace {

using namespace std::chrono_literals;

// The longest a wait may take: the server gives up on an answer after 30 s.
constexpr std::chrono::milliseconds kMaxWait{25'000};
constexpr std::chrono::milliseconds kDefaultWait{10'000};
constexpr const char* kFindObjectGroup = "vesk-find";

MethodResult scroll(Browser& browser, Tab& tab, const Json& params) {
  auto words = words_of(params);
  std::string script;
  const std::string first = words.empty() ? "down" : words[0];
  const std::string amount = words.size() > 1 ? words[1] : "";
  auto pixels = parse_number(amount).value_or(0);
  if (first == "down" || first == "up" || first == "left" || first == "right") {
    const std::string step = pixels > 0 ? std::to_string(pixels) : (first == "down" || first == "up" ? "innerHeight * 0.8" : "innerWidth * 0.8");
    const std::string dx = first == "left" ? "-(" + step + ")" : (first == "right" ? step : "0");
    const std::string dy = first == "up" ? "-(" + step + ")" : (first == "down" ? step : "0");
    script = "scrollBy(" + dx + ", " + dy + ")";
  } else if (first == "top") {
    script = "scrollTo(scrollX, 0)";
  } else if (first == "bottom") {
    script = "scrollTo(scrollX, document.documentElement.scrollHeight)";
  } else if (words.size() == 2 && parse_number(words[0]) && parse_number(words[1])) {
    script = "scrollTo(" + words[0] + ", " + words[1] + ")";
  } else {
    auto element = find_element(browser, tab, joined_words(params));
    if (!element) return std::unexpected(element.error());
    auto scrolled = call_on_element(browser, tab, *element,
                                   "function() { this.scrollIntoView({block: 'center'}); }");
    if (!scrolled) return std::unexpected(scrolled.error());
    script = "0";
  }
  auto position = evaluate(browser, tab, "(" + script + ", {scrollX, scrollY})");
  if (!position) return std::unexpected(position.error());
  return *position;
}

struct WaitRequest {
  std::string kind;     // "time", "load", "text", "url", "element", "gone"
  std::string subject;  // the text, URL part, element or load state
  std::chrono::milliseconds timeout = kDefaultWait;
  bool capped = false;  // the time asked for was longer than kMaxWait
};

// A wait of `ms`, at most kMaxWait (the server gives up on an answer after 30 s).
std::chrono::milliseconds capped_wait(double ms, bool& capped) {
  if (ms > static_cast<double>(kMaxWait.count())) {
    capped = true;
    return kMaxWait;
  }
  return std::chrono::milliseconds(static_cast<long long>(ms));
}

// Says in a wait's answer (or failure details) that the time asked for was cut.
void add_cap(Json& out, const WaitRequest& request) {
  if (!request.capped) return;
  out["capped"] = true;
  out["cap"] = kMaxWait.count();
}

std::expected<WaitRequest, MethodError> parse_wait(const Json& params) {
  auto words = words_of(params);
  WaitRequest request;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    auto next = [&]() -> std::optional<std::string> {
      if (i + 1 < words.size()) return words[++i];
      return std::nullopt;
    };
    if (word == "--timeout" || word == "-t") {
      auto value = next();
      auto ms = value ? parse_number(*value) : std::nullopt;
      if (!ms || *ms < 0) return invalid_argument("--timeout needs a number of milliseconds");
      request.timeout = capped_wait(*ms, request.capped);
    } else if (word == "--text" || word == "--url" || word == "--gone" || word == "--load") {
      auto value = next();
      if (!value) return invalid_argument(word + " needs a value");
      request.kind = word.substr(2);
      request.subject = *value;
    } else {
      rest.push_back(word);
    }
  }
  if (!request.kind.empty()) return request;
  std::string joined;
  for (const auto& w : rest) joined += (joined.empty() ? "" : " ") + w;
  if (joined.empty()) {
    return invalid_argument("wait needs what to wait for: milliseconds, load, text=..., url=..., or an element");
  }
  for (const char* prefix : {"text=", "url=", "gone="}) {
    if (joined.starts_with(prefix)) {
      request.kind = std::string(prefix, std::char_traits<char>::length(prefix) - 1);
      request.subject = joined.substr(request.kind.size() + 1);
      return request;
    }
  }
  if (auto ms = parse_number(joined)) {
    request.kind = "time";
    request.timeout = capped_wait(std::max(0.0, *ms), request.capped);
    return request;
  }
  if (joined == "load" || joined == "domcontentloaded" || joined == "networkidle") {
    request.kind = "load";
    request.subject = joined;
    return request;
  }
  request.kind = "element";
  request.subject = joined;
  return request;
}

// The script that is true once the condition holds.
std::string condition_script(const WaitRequest& request) {
  if (request.kind == "text") {
    return "!!document.body && document.body.innerText.includes(" + js_string(request.subject) + ")";
  }
  if (request.kind == "url") return "location.href.includes(" + js_string(request.subject) + ")";
  if (request.kind == "load") {
    return request.subject == "domcontentloaded" ? "document.readyState !== 'loading'"
                                                 : "document.readyState === 'complete'";
  }
  const std::string found = "document.querySelector(" + js_string(request.subject) + ")";
  if (request.kind == "gone") return "!" + found;
  return "(() => { const e = " + found + "; if (!e) return false; const r = e.getBoundingClientRect(); "
         "return r.width > 0 && r.height > 0; })()";
}

MethodResult wait(Browser& browser, Tab& tab, const Json& params) {
  auto request = parse_wait(params);
  if (!request) return std::unexpected(request.error());
  const auto started = Clock::now();
  auto waited_ms = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
  };
  if (request->kind == "time") {
    std::this_thread::sleep_for(request->timeout);
    Json waited = {{"waited", waited_ms()}};
    add_cap(waited, *request);
    if (request->capped) {
      waited["note"] = "a wait is at most " + std::to_string(kMaxWait.count()) + " ms; wait again for longer";
    }
    return waited;
  }
  // Refs are elements already on the page: waiting for one means waiting for it to show.
  const bool ref_target = (request->kind == "element" || request->kind == "gone") && is_ref(request->subject);
  const auto deadline = started + request->timeout;
  while (true) {
    bool met = false;
    if (ref_target) {
      auto element = find_element(browser, tab, request->subject);
      if (!element && element.error().code != "staleRef") return std::unexpected(element.error());
      met = request->kind == "gone" ? !element.has_value() : element.has_value();
    } else if ((request->kind == "element" || request->kind == "gone") && is_locator(request->subject)) {
      // A locator names only elements that are shown.
      auto count = count_elements(browser, tab, request->subject);
      if (!count) return std::unexpected(count.error());
      met = request->kind == "gone" ? *count == 0 : *count > 0;
    } else {
      auto value = evaluate_in_selected_frame(browser, tab, condition_script(*request));
      if (!value) {
        if (value.error().code == "evaluationFailed") {
          return invalid_argument("cannot wait for \"" + request->subject + "\": " + value.error().message);
        }
        return std::unexpected(value.error());
      }
      met = value->is_boolean() && value->get<bool>();
    }
    if (met) {
      if (request->kind == "load" && request->subject == "networkidle") std::this_thread::sleep_for(500ms);
      Json waited = {{"waited", waited_ms()}, {"for", request->kind}, {"subject", request->subject}};
      add_cap(waited, *request);
      return waited;
    }
    if (Clock::now() >= deadline) {
      Json details = {{"for", request->kind}, {"subject", request->subject}};
      add_cap(details, *request);
      return method_error("timeout", "waited " + std::to_string(request->timeout.count()) + " ms" +
                                         (request->capped ? " (the most a wait may take)" : "") + " for " +
                                         request->kind + " \"" + request->subject +
                                         "\" in vain; check it, or wait longer with --timeout MS",
                          std::move(details));
    }
    std::this_thread::sleep_for(100ms);
  }
}

// The remote objects a remote array holds, in order.
std::vector<std::string> array_items(Browser& browser, Tab& tab, const std::string& array_id) {
  std::vector<std::string> items;
  auto properties = browser.call(tab, "Runtime.getProperties", {{"objectId", array_id}, {"ownProperties", true}});
  if (!properties) return items;
  for (const auto& property : properties->value("result", Json::array())) {
    const std::string name = property.value("name", "");
    const Json value = property.value("value", Json::object());
    if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0])) && value.contains("objectId")) {
      items.push_back(value["objectId"].get<std::string>());
    }
  }
  return items;
}

// The matches, each with the ref its element has (a new one when no snapshot gave it one),
// so the answer can be acted on like a snapshot.
MethodResult find(Browser& browser, Tab& tab, const Json& params) {
  const std::string text = joined_words(params);
  if (text.empty()) return invalid_argument("find needs the text to look for");
  const std::string search = "(" + with_element_facts(js::find_text) + ").call(undefined, " + js_string(text) + ")";
  auto where = selected_script_target(browser, tab);
  if (!where) return std::unexpected(where.error());
  if (where->frame != 0) {
    // Inside a chosen frame: the matches, without refs (refs of frames come from snapshots).
    auto in_frame = evaluate_in(browser, tab, *where, "(" + search + ").matches");
    if (!in_frame) return std::unexpected(in_frame.error());
    return Json{{"text", text}, {"count", in_frame->size()}, {"matches", *in_frame}};
  }
  auto reply = browser.call(tab, "Runtime.evaluate",
                            {{"expression", search},
                             {"returnByValue", false},
                             {"objectGroup", kFindObjectGroup}});
  if (!reply) return std::unexpected(from_cdp(reply.error(), "failed to search the page"));
  const Json found = reply->value("result", Json::object());
  if (reply->contains("exceptionDetails") || !found.contains("objectId")) {
    return method_error("evaluationFailed", "searching the page failed: " +
                                               exception_text(reply->value("exceptionDetails", Json())));
  }
  const std::string found_id = found["objectId"].get<std::string>();
  auto matches = call_on_object(browser, tab, found_id, "function() { return this.matches; }");
  if (matches && enter_current_document(browser, tab)) {
    auto holder = browser.call(tab, "Runtime.callFunctionOn",
                               {{"objectId", found_id}, {"functionDeclaration", "function() { return this.elements; }"},
                                {"returnByValue", false}, {"objectGroup", kFindObjectGroup}});
    if (holder && holder->value("result", Json::object()).contains("objectId")) {
      const auto items = array_items(browser, tab, (*holder)["result"]["objectId"].get<std::string>());
      for (std::size_t i = 0; i < items.size() && i < matches->size(); ++i) {
        auto node = browser.call(tab, "DOM.describeNode", {{"objectId", items[i]}});
        if (!node) continue;
        auto backend = node->value("node", Json::object()).value("backendNodeId", std::int64_t{0});
        if (backend != 0) (*matches)[i]["ref"] = assign_ref(tab.snapshot, backend);
      }
    }
  }
  browser.release_object_group(tab, "", kFindObjectGroup);
  if (!matches) return std::unexpected(matches.error());
  return Json{{"text", text}, {"count", matches->size()}, {"matches", *matches}};
}

MethodResult styles(Browser& browser, Tab& tab, const Json& params) {
  auto words = words_of(params);
  auto target = string_member(params, "selector");
  if (!target) {
    if (words.empty()) return invalid_argument("styles needs an element and optionally property names");
    target = words.front();
    words.erase(words.begin());
  }
  auto element = find_element(browser, tab, *target);
  if (!element) return std::unexpected(element.error());
  if (words.empty()) {
    words = {"display", "visibility", "opacity", "position", "z-index", "width", "height", "color",
             "background-color", "font-size", "font-family", "font-weight"};
  }
  auto values = call_on_element(browser, tab, *element,
                               "function(names) { const s = getComputedStyle(this); const out = {}; "
                               "for (const n of names) out[n] = s.getPropertyValue(n); return out; }",
                               Json{words});
  if (!values) return std::unexpected(values.error());
  return Json{{"element", *target}, {"styles", *values}};
}

}  // namespace

void add_page_query_methods(MethodTable& table) {
  table["page.scroll"] = tab_method(scroll);
  table["page.wait"] = tab_method(wait);
  table["page.find"] = tab_method(find);
  table["page.styles"] = tab_method(styles);
}

}  // namespace vesk::browser
