// Clicks by coordinates: "click X Y" (or --x/--y) and "mouse click X Y" become
// "mouse.click" instead of an element action.
#include <cmath>

#include "cli/browser_commands.hpp"
#include "cli/number_text.hpp"

namespace vesk::cli {

namespace {

// Coordinates go out as JSON floats; a value that is not finite has no JSON number.
Json coordinate(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }

Json click_options(const ActionArgs& args) {
  return Json{{"snap", args.snap},           {"snapDiff", args.snap_diff}, {"text", args.text},
              {"waitNav", args.wait_nav},    {"dismissBanners", args.dismiss_banners},
              {"mode", text_or_null(args.mode)}, {"humanize", args.humanize}};
}

Status send_mouse_click(const RequestSender& send, double x, double y, const ActionArgs& args) {
  return send_and_print(send, "mouse.click",
                        Json{{"x", coordinate(x)},
                             {"y", coordinate(y)},
                             {"tab", text_or_null(args.tab)},
                             {"options", click_options(args)},
                             {"sourceCommand", "click"}});
}

}  // namespace

Status run_click(const RequestSender& send, const ActionArgs& args) {
  if (args.x && args.y) return send_mouse_click(send, *args.x, *args.y, args);
  if (args.selector && args.args.size() == 1) {
    const auto x = parse_decimal_float(*args.selector);
    const auto y = parse_decimal_float(args.args.front());
    if (x && y) return send_mouse_click(send, *x, *y, args);
  }
  return run_element_action(send, "element.click", args);
}

Status run_mouse(const RequestSender& send, const RawBrowserArgs& args) {
  if (args.args.size() == 3 && args.args[0] == "click") {
    const auto x = parse_decimal_float(args.args[1]);
    const auto y = parse_decimal_float(args.args[2]);
    if (x && y) {
      return send_and_print(send, "mouse.click",
                            Json{{"x", coordinate(*x)},
                                 {"y", coordinate(*y)},
                                 {"tab", text_or_null(args.tab)},
                                 {"sourceCommand", "mouse.click"}});
    }
  }
  return run_raw_method(send, "mouse", args);
}

}  // namespace vesk::cli
