// The 46 raw commands: the words after the command go to the browser unchanged, under a
// method formed from the command word.
#include "cli/browser_commands.hpp"
#include "render/render.hpp"

namespace vesk::cli {

Status run_raw_method(const RequestSender& send, const std::string& method, const RawBrowserArgs& args) {
  return send_and_print(send, raw_request(method, args));
}

namespace {

// A batch answers with every command's outcome, also when one of them failed; the whole
// answer is printed, and a batch that stopped at an error still ends the command with it,
// so that a script sees the failure in the exit status.
Status run_batch(const RequestSender& send, const RawBrowserArgs& args) {
  const BrowserRequest request = raw_request("quick", args);
  auto result = send(request.method, request.params);
  if (!result) return fail(std::move(result.error()));
  if (auto printed = print_result(*result); !printed) return printed;
  if (!result->is_object() || result->value("ok", true)) return {};
  const Json& stopped_at = (*result)["stoppedAt"];
  std::string reason = "a command failed";
  if (stopped_at.is_number_integer() && stopped_at.get<std::int64_t>() > 0) {
    const auto index = stopped_at.get<std::size_t>();
    const Json& results = (*result)["results"];
    reason = "command " + std::to_string(index) + " failed";
    if (results.is_array() && index >= 1 && index <= results.size()) {
      const Json& entry = results[index - 1];
      const Json& error = entry.value("error", Json::object());
      reason = "command " + std::to_string(index) + " (" + entry.value("command", std::string()) +
               ") failed: " + error.value("code", std::string("error")) + ": " + error.value("message", std::string());
    }
  }
  return fail("quick: " + reason + "; the commands after it did not run");
}

}  // namespace

Status run_raw_command(const RequestSender& send, CommandWord word, const RawBrowserArgs& args) {
  if (word == CommandWord::quick) return run_batch(send, args);
  const auto method = raw_command_method(word);
  if (!method) return fail("\"" + std::string(command_word_text(word)) + "\" is not a raw browser command");
  return run_raw_method(send, *method, args);
}

Status run_raw_browser_command(const RequestSender& send, CommandWord word, const RawBrowserArgs& args) {
  if (word == CommandWord::mouse) return run_mouse(send, args);
  return run_raw_command(send, word, args);
}

}  // namespace vesk::cli
