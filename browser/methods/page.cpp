// Page methods: "page.title", "page.url", "page.text", "page.html", "page.eval".
// "page.scroll", "page.wait", "page.find" and "page.styles" live in page_queries.cpp.
#include "browser/core/element_lookup.hpp"
#include "browser/core/method_table.hpp"
#include "browser/core/page_script.hpp"

namespace vesk::browser {

namespace {

MethodResult page_title(Browser& browser, Tab& tab, const Json&) {
  auto title = evaluate(browser, tab, "document.title");
  if (!title) return std::unexpected(title.error());
  return Json{{"title", *title}};
}

MethodResult page_url(Browser& browser, Tab& tab, const Json&) {
  auto url = evaluate(browser, tab, "location.href");
  if (!url) return std::unexpected(url.error());
  return Json{{"url", *url}};
}

// The text or HTML of the element the first word names, or of the whole page.
MethodResult page_content(Browser& browser, Tab& tab, const Json& params, bool html) {
  const std::string key = html ? "html" : "text";
  auto words = words_of(params);
  auto selector = string_member(params, "selector");
  if (!selector && !words.empty()) selector = joined_words(params);
  if (!selector) {
    auto value = evaluate(browser, tab,
                          html ? "document.documentElement ? document.documentElement.outerHTML : ''"
                               : "document.body ? document.body.innerText : ''");
    if (!value) return std::unexpected(value.error());
    return Json{{key, *value}};
  }
  auto element = find_element(browser, tab, *selector);
  if (!element) return std::unexpected(element.error());
  auto value = call_on_object(browser, tab, element->object_id,
                              html ? "function() { return this.outerHTML; }"
                                   : "function() { return this.innerText ?? this.textContent; }");
  if (!value) return std::unexpected(value.error());
  return Json{{key, *value}, {"selector", *selector}};
}

MethodResult page_eval(Browser& browser, Tab& tab, const Json& params) {
  std::string script = string_member(params, "script").value_or(joined_words(params));
  if (script.empty()) return invalid_argument("page.eval needs a script, for example `vesk eval document.title`");
  auto value = evaluate(browser, tab, script);
  if (!value) return std::unexpected(value.error());
  return Json{{"value", *value}};
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
