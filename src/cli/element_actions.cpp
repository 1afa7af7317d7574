// "fill", "select" and the element form of "click": one action request, optionally
// framed by a baseline snapshot before it and an after-snapshot merged into its result.
#include "cli/browser_commands.hpp"
#include "cli/snapshot_change.hpp"
#include "render/render.hpp"

namespace vesk::cli {

namespace {

Json action_params(const std::string& method, const ActionArgs& args) {
  return Json{{"selector", text_or_null(args.selector)},
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
              {"sourceCommand", method}};
}

}  // namespace

Status run_element_action(const RequestSender& send, const std::string& method, const ActionArgs& args) {
  std::optional<Json> baseline;
  if (args.snap_diff) baseline = baseline_snapshot(send, args.tab);

  auto result = send(method, action_params(method, args));
  if (!result) return fail(std::move(result.error()));
  if (!args.snap && !args.snap_diff) return print_result(*result);

  auto after = args.snap_diff ? await_snapshot_change(send, args.tab, method, baseline)
                              : send("page.snapshot", snapshot_params(args.tab, false, "page.snapshot"));
  if (!after) return fail(std::move(after.error()));
  merge_snapshot(*result, *after);
  return print_result(*result);
}

Status run_action_command(const RequestSender& send, CommandWord word, const ActionArgs& args) {
  switch (word) {
    case CommandWord::click: return run_click(send, args);
    case CommandWord::fill: return run_element_action(send, "element.fill", args);
    case CommandWord::select: return run_element_action(send, "element.select", args);
    default: return fail("\"" + std::string(command_word_text(word)) + "\" is not an element action");
  }
}

}  // namespace vesk::cli
