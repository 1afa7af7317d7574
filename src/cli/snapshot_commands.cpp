// "snap" (options, and a compact listing with -i) and "snapshot" (no options at all).
#include "cli/browser_commands.hpp"
#include "render/render.hpp"

namespace vesk::cli {

Status run_snap(const RequestSender& send, const SnapArgs& args) {
  const BrowserRequest request = snap_request(args);
  auto result = send(request.method, request.params);
  if (!result) return fail(std::move(result.error()));
  return args.interactive ? print_snapshot_listing(*result) : print_result(*result);
}

Status run_snapshot(const RequestSender& send) { return send_and_print(send, snapshot_request()); }

}  // namespace vesk::cli
