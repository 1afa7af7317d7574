// Clicks by coordinates: "click X Y" (or --x/--y) and "mouse click X Y" become
// "mouse.click" instead of an element action.
#include "cli/browser_commands.hpp"

namespace vesk::cli {

Status run_click(const RequestSender& send, const ActionArgs& args) {
  if (auto click = coordinate_click_request(args)) return send_and_print(send, *click);
  return run_element_action(send, "element.click", args);
}

Status run_mouse(const RequestSender& send, const RawBrowserArgs& args) {
  return send_and_print(send, mouse_request(args));
}

}  // namespace vesk::cli
