// "nav"/"navigate": the navigation, then the follow-ups the command line itself asks for
// (snapshot, PDF, screenshot, capture), each printed as its own document. The follow-ups
// carry empty params, so the browser applies its defaults to them.
#include <array>

#include "base/log.hpp"
#include "cli/browser_commands.hpp"

namespace vesk::cli {

namespace {

Json navigate_params(const NavArgs& args) {
  return Json{{"url", args.url},
              {"newTab", args.new_tab},
              {"tab", text_or_null(args.tab)},
              {"options",
               {{"snap", args.snap},
                {"snapDiff", args.snap_diff},
                {"text", args.text},
                {"blockImages", args.block_images},
                {"blockAds", args.block_ads},
                {"dismissBanners", args.dismiss_banners},
                {"printTabId", args.print_tab_id},
                {"pdf", args.pdf},
                {"screenshot", args.screenshot},
                {"capture", args.capture}}}};
}

struct FollowUp {
  bool NavArgs::*wanted;
  const char* log_message;
  const char* method;
};

constexpr std::array<FollowUp, 4> kFollowUps = {{
    {&NavArgs::snap, "navigation complete; requesting snapshot", "page.snapshot"},
    {&NavArgs::pdf, "navigation complete; requesting PDF", "page.pdf"},
    {&NavArgs::screenshot, "navigation complete; requesting screenshot", "page.screenshot"},
    {&NavArgs::capture, "navigation complete; requesting capture", "page.capture"},
}};

}  // namespace

Status run_navigation(const RequestSender& send, const NavArgs& args) {
  if (auto navigated = send_and_print(send, "tab.navigate", navigate_params(args)); !navigated) {
    return navigated;
  }
  for (const FollowUp& follow_up : kFollowUps) {
    if (!(args.*follow_up.wanted)) continue;
    log_info(follow_up.log_message);
    if (auto done = send_and_print(send, follow_up.method, Json::object()); !done) return done;
  }
  return {};
}

}  // namespace vesk::cli
