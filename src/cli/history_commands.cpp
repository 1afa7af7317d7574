// "back", "forward", "reload": the options are only forwarded; the browser picks the tab.
#include "cli/browser_commands.hpp"

namespace vesk::cli {

Status run_history_command(const RequestSender& send, CommandWord word, const AfterActionArgs& args) {
  std::string method;
  switch (word) {
    case CommandWord::back: method = "nav.back"; break;
    case CommandWord::forward: method = "nav.forward"; break;
    case CommandWord::reload: method = "nav.reload"; break;
    default: return fail("\"" + std::string(command_word_text(word)) + "\" is not a history command");
  }
  return send_and_print(send, method,
                        Json{{"options",
                              {{"snap", args.snap},
                               {"snapDiff", args.snap_diff},
                               {"text", args.text},
                               {"dismissBanners", args.dismiss_banners}}},
                             {"sourceCommand", method}});
}

}  // namespace vesk::cli
