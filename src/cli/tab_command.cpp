// "tab"/"tabs": the first word picks the operation; any other word is a tab to focus.
#include "cli/browser_commands.hpp"

namespace vesk::cli {

Status run_tab_command(const RequestSender& send, const TabArgs& args) {
  return send_and_print(send, tab_request(args));
}

}  // namespace vesk::cli
