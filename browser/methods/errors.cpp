// "errors": the tab's uncaught exceptions and unhandled promise rejections, with stacks.
//   vesk errors [list] [--clear]
#include "browser/core/method_table.hpp"
#include "browser/trackers/console.hpp"
#include "browser/trackers/page_errors.hpp"

namespace vesk::browser {

namespace {

Json error_json(const PageError& error) {
  Json stack = Json::array();
  for (const auto& frame : error.stack) {
    stack.push_back({{"function", frame.function}, {"url", frame.url}, {"line", frame.line}, {"column", frame.column}});
  }
  Json out = {{"message", error.message}, {"stack", std::move(stack)}, {"time", console_time_text(error.time_ms)}};
  if (!error.url.empty()) out["url"] = error.url;
  if (error.line > 0) out["line"] = error.line;
  if (error.column > 0) out["column"] = error.column;
  return out;
}

MethodResult errors(Browser&, Tab& tab, const Json& params) {
  bool clear = false;
  auto words = words_of(params);
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] == "--clear") clear = true;
    else if (!(words[i] == "list" && i == 0)) {
      return invalid_argument("unexpected \"" + words[i] + "\"; errors takes `list` and `--clear`");
    }
  }
  auto* tracker = tab.tracker<PageErrorTracker>();
  if (tracker == nullptr) return method_error("actionFailed", "tab " + tab.id + " keeps no error log");
  PageErrorTracker::Contents contents = tracker->read(clear);
  Json list = Json::array();
  for (const auto& error : contents.entries) list.push_back(error_json(error));
  return Json{{"tab", tab.id},
              {"errors", std::move(list)},
              {"count", contents.entries.size()},
              {"dropped", contents.dropped},
              {"cleared", clear}};
}

}  // namespace

void add_errors_methods(MethodTable& table) { table["errors"] = tab_method(errors, WhenDialogOpen::Serve); }

}  // namespace vesk::browser
