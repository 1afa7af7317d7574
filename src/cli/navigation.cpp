// "nav"/"navigate": the navigation, then the follow-ups the command line itself asks for
// (snapshot, PDF, screenshot, capture), each printed as its own document.
#include "base/log.hpp"
#include "cli/browser_commands.hpp"

namespace vesk::cli {

Status run_navigation(const RequestSender& send, const NavArgs& args) {
  if (auto navigated = send_and_print(send, navigate_request(args)); !navigated) return navigated;
  for (const NavigationFollowUp& follow_up : navigation_follow_ups(args)) {
    log_info(follow_up.log_message);
    if (auto done = send_and_print(send, follow_up.request); !done) return done;
  }
  return {};
}

}  // namespace vesk::cli
