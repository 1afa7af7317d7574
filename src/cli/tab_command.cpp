// "tab"/"tabs": the first word picks the operation; any other word is a tab to focus.
#include "cli/browser_commands.hpp"

namespace vesk::cli {

namespace {

std::string tab_method(const std::optional<std::string>& first_word) {
  if (!first_word || *first_word == "list") return "tab.list";
  const std::string& word = *first_word;
  if (word == "new" || word == "open") return "tab.open";
  if (word == "close") return "tab.close";
  if (word == "resume") return "tab.resume";
  if (word == "handoff") return "tab.handoff";
  if (word == "handoff-status") return "tab.handoffStatus";
  return "tab.focus";
}

}  // namespace

Status run_tab_command(const RequestSender& send, const TabArgs& args) {
  const std::string method = tab_method(args.command_or_id);
  Json words = Json::array();
  if (args.command_or_id) words.push_back(*args.command_or_id);
  if (args.tab_id) words.push_back(*args.tab_id);
  const Json tab = method == "tab.focus" ? Json(*args.command_or_id) : text_or_null(args.tab_id);
  return send_and_print(send, method, Json{{"args", std::move(words)}, {"tab", tab}, {"sourceCommand", method}});
}

}  // namespace vesk::cli
