#pragma once
// The tab-method adapter. Most methods act on one tab: the one params["tab"] names, else
// the current one. tab_method() turns a handler of that tab into a method: it resolves
// and attaches the tab, answers "dialogOpen" while a JavaScript dialog blocks the tab
// (the page can do nothing else until it is answered), and lets the handler use unwrap()
// for its steps, their errors turned into the method's error in one place.

#include <functional>

#include "base/json.hpp"
#include "browser/core/browser.hpp"
#include "browser/core/method_result.hpp"

namespace vesk::browser {

using TabHandler = std::function<MethodResult(Browser&, Tab&, const Json& params)>;

enum class WhenDialogOpen {
  Refuse,  // answer "dialogOpen" without running the handler
  Serve,   // the handler deals with the dialog (answering it, reporting it, closing the tab)
};

std::function<MethodResult(Browser&, const Json&)> tab_method(TabHandler handler,
                                                              WhenDialogOpen dialog = WhenDialogOpen::Refuse);

}  // namespace vesk::browser
