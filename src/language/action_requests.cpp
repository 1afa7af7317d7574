// Requests of the commands that act on the page: the 46 raw commands, "mouse", "click",
// "fill", "select" and the history commands.
#include <cmath>

#include "language/number_text.hpp"
#include "language/requests.hpp"

namespace vesk::cli {

std::optional<std::string> raw_command_method(CommandWord word) {
  using enum CommandWord;
  const std::string word_text(command_word_text(word));
  switch (word) {
    case type: case dblclick: case hover: case focus: case value: case attr: case count:
    case box: case visible: case enabled: case checked: case check: case uncheck:
    case scrollintoview:
      return "element." + word_text;
    case scroll: case eval: case CommandWord::text: case title: case url: case html:
    case styles: case find: case wait: case capture:
      return "page." + word_text;
    case keydown: case keyup: case press:
      return "keyboard." + word_text;
    case drag: return "mouse.drag";
    case close: return "tab.close";
    case handoff: return "tab.handoff";
    case resume: return "tab.resume";
    case handoff_status: return "tab.handoffStatus";
    case set: return "emulation.set";
    case frame: case network: case keyboard: case dialog: case console: case errors:
    case clipboard: case cache: case cookies: case storage: case state: case record:
    case quick:
      return word_text;
    default:
      return std::nullopt;
  }
}

BrowserRequest raw_request(const std::string& method, const RawBrowserArgs& args) {
  return {method, Json{{"args", args.args}, {"tab", text_or_null(args.tab)}, {"sourceCommand", method}}};
}

namespace {

// Coordinates go out as JSON floats; a value that is not finite has no JSON number.
Json coordinate(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }

Json click_options(const ActionArgs& args) {
  return Json{{"snap", args.snap},           {"snapDiff", args.snap_diff}, {"text", args.text},
              {"waitNav", args.wait_nav},    {"dismissBanners", args.dismiss_banners},
              {"mode", text_or_null(args.mode)}, {"humanize", args.humanize}};
}

BrowserRequest mouse_click_request(double x, double y, const ActionArgs& args) {
  return {"mouse.click", Json{{"x", coordinate(x)},
                              {"y", coordinate(y)},
                              {"tab", text_or_null(args.tab)},
                              {"options", click_options(args)},
                              {"sourceCommand", "click"}}};
}

}  // namespace

BrowserRequest mouse_request(const RawBrowserArgs& args) {
  if (args.args.size() == 3 && args.args[0] == "click") {
    const auto x = parse_decimal_float(args.args[1]);
    const auto y = parse_decimal_float(args.args[2]);
    if (x && y) {
      return {"mouse.click", Json{{"x", coordinate(*x)},
                                  {"y", coordinate(*y)},
                                  {"tab", text_or_null(args.tab)},
                                  {"sourceCommand", "mouse.click"}}};
    }
  }
  return raw_request("mouse", args);
}

std::optional<std::string> action_method(CommandWord word) {
  switch (word) {
    case CommandWord::click: return "element.click";
    case CommandWord::fill: return "element.fill";
    case CommandWord::select: return "element.select";
    default: return std::nullopt;
  }
}

std::optional<BrowserRequest> coordinate_click_request(const ActionArgs& args) {
  if (args.x && args.y) return mouse_click_request(*args.x, *args.y, args);
  if (args.selector && args.args.size() == 1) {
    const auto x = parse_decimal_float(*args.selector);
    const auto y = parse_decimal_float(args.args.front());
    if (x && y) return mouse_click_request(*x, *y, args);
  }
  return std::nullopt;
}

BrowserRequest element_action_request(const std::string& method, const ActionArgs& args) {
  return {method, Json{{"selector", text_or_null(args.selector)},
                       {"args", args.args},
                       {"tab", text_or_null(args.tab)},
                       {"options",
                        {{"snap", args.snap},
                         {"snapDiff", args.snap_diff},
                         {"text", args.text},
                         {"waitNav", args.wait_nav},
                         {"dismissBanners", args.dismiss_banners},
                         {"mode", text_or_null(args.mode)},
                         {"humanize", args.humanize},
                         {"x", args.x ? Json(*args.x) : Json(nullptr)},
                         {"y", args.y ? Json(*args.y) : Json(nullptr)},
                         {"dialogAction", text_or_null(args.dialog_action)},
                         {"dialogText", text_or_null(args.dialog_text)}}},
                       {"sourceCommand", method}}};
}

BrowserRequest action_request(CommandWord word, const ActionArgs& args) {
  if (word == CommandWord::click) {
    if (auto click = coordinate_click_request(args)) return std::move(*click);
  }
  return element_action_request(action_method(word).value_or("element.click"), args);
}

std::optional<std::string> history_method(CommandWord word) {
  switch (word) {
    case CommandWord::back: return "nav.back";
    case CommandWord::forward: return "nav.forward";
    case CommandWord::reload: return "nav.reload";
    default: return std::nullopt;
  }
}

BrowserRequest history_request(const std::string& method, const AfterActionArgs& args) {
  return {method, Json{{"options",
                        {{"snap", args.snap},
                         {"snapDiff", args.snap_diff},
                         {"text", args.text},
                         {"dismissBanners", args.dismiss_banners}}},
                       {"sourceCommand", method}}};
}

}  // namespace vesk::cli
