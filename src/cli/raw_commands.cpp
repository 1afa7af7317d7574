// The 46 raw commands: the words after the command go to the browser unchanged, under a
// method formed from the command word.
#include "cli/browser_commands.hpp"
#include "render/render.hpp"

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

Status run_raw_method(const RequestSender& send, const std::string& method, const RawBrowserArgs& args) {
  return send_and_print(
      send, method, Json{{"args", args.args}, {"tab", text_or_null(args.tab)}, {"sourceCommand", method}});
}

Status run_raw_command(const RequestSender& send, CommandWord word, const RawBrowserArgs& args) {
  const auto method = raw_command_method(word);
  if (!method) return fail("\"" + std::string(command_word_text(word)) + "\" is not a raw browser command");
  return run_raw_method(send, *method, args);
}

Status run_raw_browser_command(const RequestSender& send, CommandWord word, const RawBrowserArgs& args) {
  if (word == CommandWord::mouse) return run_mouse(send, args);
  return run_raw_command(send, word, args);
}

}  // namespace vesk::cli
