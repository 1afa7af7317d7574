// "fill", "select" and the element form of "click": one action request, optionally
// framed by a baseline snapshot before it and an after-snapshot merged into its result.
#include "cli/browser_commands.hpp"
#include "language/snapshot_change.hpp"
#include "render/render.hpp"

namespace vesk::cli {

Status run_element_action(const RequestSender& send, const std::string& method, const ActionArgs& args) {
  std::optional<Json> baseline;
  if (args.snap_diff) baseline = baseline_snapshot(send, args.tab);

  const BrowserRequest request = element_action_request(method, args);
  auto result = send(request.method, request.params);
  if (!result) return fail(std::move(result.error()));
  if (!args.snap && !args.snap_diff) return print_result(*result);

  auto after = args.snap_diff ? await_snapshot_change(send, args.tab, method, baseline)
                              : send("page.snapshot", snapshot_params(args.tab, false, "page.snapshot"));
  if (!after) return fail(std::move(after.error()));
  merge_snapshot(*result, *after);
  return print_result(*result);
}

Status run_action_command(const RequestSender& send, CommandWord word, const ActionArgs& args) {
  if (word == CommandWord::click) return run_click(send, args);
  const auto method = action_method(word);
  if (!method) return fail("\"" + std::string(command_word_text(word)) + "\" is not an element action");
  return run_element_action(send, *method, args);
}

}  // namespace vesk::cli
