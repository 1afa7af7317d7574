// "back", "forward", "reload": the options are only forwarded; the browser picks the tab.
#include "cli/browser_commands.hpp"

namespace vesk::cli {

Status run_history_command(const RequestSender& send, CommandWord word, const AfterActionArgs& args) {
  const auto method = history_method(word);
  if (!method) return fail("\"" + std::string(command_word_text(word)) + "\" is not a history command");
  return send_and_print(send, history_request(*method, args));
}

}  // namespace vesk::cli
