// "profile"/"profiles": passed to the browser like any other request.
#include "cli/browser_commands.hpp"

namespace vesk::cli {

Status run_profile_command(const RequestSender& send, const ProfileCommand& command) {
  return send_and_print(send, profile_request(command));
}

}  // namespace vesk::cli
