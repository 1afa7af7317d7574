// "snap" (options, and a compact listing with -i) and "snapshot" (no options at all).
#include "cli/browser_commands.hpp"
#include "render/render.hpp"

namespace vesk::cli {

Status run_snap(const RequestSender& send, const SnapArgs& args) {
  const Json params{{"selector", text_or_null(args.selector)},
                    {"tab", text_or_null(args.tab)},
                    {"options",
                     {{"full", args.full},
                      {"diff", args.diff},
                      {"interactive", args.interactive},
                      {"compact", args.compact},
                      {"maxTokens", args.max_tokens ? Json(std::uint64_t{*args.max_tokens}) : Json(nullptr)}}},
                    {"sourceCommand", "page.snapshot"}};
  auto result = send("page.snapshot", params);
  if (!result) return fail(std::move(result.error()));
  return args.interactive ? print_snapshot_listing(*result) : print_result(*result);
}

Status run_snapshot(const RequestSender& send) {
  return send_and_print(send, "page.snapshot", Json::object());
}

}  // namespace vesk::cli
