// The "storage" method: the local or session storage of the current tab's origin.
//   storage [local|session] [list | get KEY | set KEY VALUE | delete KEY | clear]
// The default is "local list". It runs in the page, which sees exactly its own origin's
// storage (session storage is the tab's own).
#include "browser/core/method_table.hpp"
#include "browser/core/page_script.hpp"

namespace vesk::browser {

namespace {

constexpr std::string_view kUsage =
    "storage [local|session] [list | get KEY | set KEY VALUE | delete KEY | clear]";

struct StorageVerb {
  std::string_view name;
  std::size_t values;
  // The body of a function(area, key, value) run in the page; `area` is the Storage.
  std::string_view body;
};

constexpr StorageVerb kVerbs[] = {
    {"list", 0,
     "const items = []; for (let i = 0; i < area.length; i++) { const name = area.key(i); "
     "items.push({name, value: area.getItem(name)}); } return {items, count: items.length};"},
    {"get", 1, "const value = area.getItem(key); return {name: key, value, found: value !== null};"},
    {"set", 2, "area.setItem(key, value); return {name: key, value: area.getItem(key)};"},
    {"delete", 1, "const found = area.getItem(key) !== null; area.removeItem(key); return {name: key, deleted: found};"},
    {"clear", 0, "const cleared = area.length; area.clear(); return {cleared};"},
};

MethodResult storage(Browser& browser, Tab& tab, const Json& params) {
  auto words = words_of(params);
  std::string kind = "local";
  std::size_t at = 0;
  if (!words.empty() && (words[0] == "local" || words[0] == "session")) kind = words[at++];
  const std::string verb = at < words.size() ? words[at++] : "list";
  const StorageVerb* chosen = nullptr;
  for (const auto& candidate : kVerbs) {
    if (candidate.name == verb) chosen = &candidate;
  }
  if (chosen == nullptr) {
    return invalid_argument("unknown storage command \"" + verb + "\"; accepted: " + std::string(kUsage));
  }
  const std::vector<std::string> values(words.begin() + static_cast<std::ptrdiff_t>(at), words.end());
  if (values.size() != chosen->values) {
    return invalid_argument("storage " + verb + " takes " + std::to_string(chosen->values) + " value(s), got " +
                            std::to_string(values.size()) + " (quote a value with spaces); accepted: " +
                            std::string(kUsage));
  }
  const std::string area = kind == "local" ? "localStorage" : "sessionStorage";
  // A page without an origin of its own (about:blank, data:) has no storage to show.
  const std::string script =
      "(() => { if (location.origin === 'null') return {noOrigin: location.href}; "
      "const area = " + area + "; const key = " + js_string(values.size() > 0 ? values[0] : "") +
      "; const value = " + js_string(values.size() > 1 ? values[1] : "") + "; const result = (() => { " +
      std::string(chosen->body) + " })(); result.origin = location.origin; return result; })()";
  Json result = unwrap(evaluate(browser, tab, script));
  if (!result.is_object()) return method_error("actionFailed", "the page answered no storage result");
  if (result.contains("noOrigin")) {
    return invalid_argument("the page " + result["noOrigin"].get<std::string>() +
                            " has no origin and so no storage; navigate to a page of the site first");
  }
  result["kind"] = kind;
  result["tab"] = tab.id;
  return result;
}

}  // namespace

void add_storage_methods(MethodTable& table) { table["storage"] = tab_method(storage); }

}  // namespace vesk::browser
