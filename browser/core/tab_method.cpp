#include "browser/core/tab_method.hpp"

namespace vesk::browser {

std::function<MethodResult(Browser&, const Json&)> tab_method(TabHandler handler, WhenDialogOpen dialog) {
  return [handler = std::move(handler), dialog](Browser& browser, const Json& params) -> MethodResult {
    Tab& tab = *unwrap(browser.tab_for(params));
    if (dialog == WhenDialogOpen::Refuse) {
      if (auto open = browser.open_dialog(tab)) {
        return std::unexpected(from_cdp(CdpFailure{CdpFailureKind::DialogOpen, "", *open, 0},
                                        "tab " + tab.id + " cannot be used now"));
      }
    }
    return handler(browser, tab, params);
  };
}

}  // namespace vesk::browser
