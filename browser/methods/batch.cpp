#include "browser/methods/batch.hpp"

#include <filesystem>
#include <variant>

#include "language/parser.hpp"
#include "language/requests.hpp"
#include "language/shell_words.hpp"
#include "language/snapshot_change.hpp"

namespace vesk::browser {
namespace {

// A command that stopped the batch before or while it ran.
struct Stop {
  MethodError error;
  std::string method;  // empty when the line never became a request
};

MethodError refused(std::string message) { return MethodError{"invalidArgument", std::move(message), nullptr}; }

// The request path of a batch reports its errors as method errors; the shared snapshot
// helpers take a sender that answers Result<Json>, so the error is carried across as text
// and its code kept aside.
struct Sender {
  const ServeRequest& serve;
  std::optional<MethodError> last_error;

  cli::RequestSender as_request_sender() {
    return [this](const std::string& method, const Json& params) -> Result<Json> {
      auto result = serve(method, params);
      if (result) return std::move(*result);
      last_error = result.error();
      return fail(result.error().code + ": " + result.error().message);
    };
  }
};

// Every request of the batch goes to the batch's tab unless the command names one.
void pin_tab(Json& params, const Json& tab) {
  if (tab.is_null() || !params.is_object()) return;
  const auto found = params.find("tab");
  if (found == params.end() || found->is_null()) params["tab"] = tab;
}

// Paths in a batch cannot be taken relative to where vesk ran: the browser does not know it.
std::optional<MethodError> relative_output(const Json& params) {
  const auto output = params.find("output");
  if (output == params.end() || !output->is_string()) return std::nullopt;
  if (std::filesystem::path(output->get<std::string>()).is_absolute()) return std::nullopt;
  return refused("output path \"" + output->get<std::string>() +
                 "\" is relative; inside a batch give an absolute path (the browser cannot know "
                 "where vesk ran)");
}

std::variant<cli::CommandRequests, MethodError> requests_of(const std::string& line) {
  auto words = cli::split_shell_words(line);
  if (!words) return refused(words.error().text());
  if (words->empty()) return refused("an empty command line; each word of a batch is one vesk command");
  cli::ParseOutcome parsed = cli::parse_command_line(*words);
  if (const auto* usage = std::get_if<cli::UsageError>(&parsed)) return refused(usage->text);
  if (std::holds_alternative<cli::HelpRequest>(parsed)) {
    return refused("help is not available inside a batch; run `vesk " + (*words)[0] + " --help`");
  }
  const cli::Cli& cli = std::get<cli::Cli>(parsed);
  if (cli.word == cli::CommandWord::quick) return refused("a batch cannot contain another batch");
  auto requests = cli::command_requests(cli);
  if (!requests) return refused(requests.error().text() + "; run it as its own vesk command");
  if (auto bad = relative_output(requests->request.params)) return *bad;
  return std::move(*requests);
}

// Serves one command: its request, the snapshot its options ask for, and its follow-ups.
// The follow-ups' results go under "followUps" (nav --snap/--capture ...).
std::expected<Json, Stop> serve_command(cli::CommandRequests& requests, const Json& batch_tab,
                                        const ServeRequest& serve) {
  cli::BrowserRequest& request = requests.request;
  pin_tab(request.params, batch_tab);
  const std::optional<std::string> tab =
      requests.tab ? requests.tab : (batch_tab.is_string() ? std::optional(batch_tab.get<std::string>()) : std::nullopt);

  Sender sender{serve, std::nullopt};
  const cli::RequestSender send = sender.as_request_sender();
  std::optional<Json> baseline;
  if (requests.after == cli::AfterSnapshot::diff) baseline = cli::baseline_snapshot(send, tab);

  auto result = serve(request.method, request.params);
  if (!result) return std::unexpected(Stop{result.error(), request.method});
  if (requests.after != cli::AfterSnapshot::none) {
    auto after = requests.after == cli::AfterSnapshot::diff
                     ? cli::await_snapshot_change(send, tab, request.method, baseline)
                     : send("page.snapshot", cli::snapshot_params(tab, false, "page.snapshot"));
    if (!after) return std::unexpected(Stop{*sender.last_error, "page.snapshot"});
    cli::merge_snapshot(*result, *after);
  }
  if (!requests.follow_ups.empty()) {
    Json follow_ups = Json::array();
    for (cli::BrowserRequest& follow_up : requests.follow_ups) {
      pin_tab(follow_up.params, batch_tab);
      auto answer = serve(follow_up.method, follow_up.params);
      if (!answer) return std::unexpected(Stop{answer.error(), follow_up.method});
      follow_ups.push_back(Json{{"method", follow_up.method}, {"result", std::move(*answer)}});
    }
    if (result->is_object()) (*result)["followUps"] = std::move(follow_ups);
  }
  return std::move(*result);
}

Json error_json(const MethodError& error) {
  return Json{{"code", error.code}, {"message", error.message}, {"details", error.details}};
}

}  // namespace

MethodResult run_batch(const Json& params, const ServeRequest& serve) {
  std::vector<std::string> lines;
  if (const auto args = params.find("args"); args != params.end() && args->is_array()) {
    for (const Json& word : *args) {
      if (!word.is_string()) return invalid_argument("each word of a batch must be a string holding one vesk command");
      lines.push_back(word.get<std::string>());
    }
  }
  if (lines.empty()) {
    return invalid_argument("a batch needs at least one command, each as one word: vesk quick 'fill e1 Ada' 'click e2'");
  }
  const Json batch_tab = params.contains("tab") ? params["tab"] : Json(nullptr);

  Json results = Json::array();
  std::optional<std::size_t> stopped_at;
  for (std::size_t i = 0; i < lines.size() && !stopped_at; ++i) {
    Json entry{{"command", lines[i]}};
    auto requests = requests_of(lines[i]);
    if (auto* error = std::get_if<MethodError>(&requests)) {
      entry["error"] = error_json(*error);
      stopped_at = i + 1;
    } else {
      auto& planned = std::get<cli::CommandRequests>(requests);
      entry["method"] = planned.request.method;
      auto served = serve_command(planned, batch_tab, serve);
      if (served) {
        entry["result"] = std::move(*served);
      } else {
        entry["error"] = error_json(served.error().error);
        if (served.error().method != planned.request.method) entry["failedMethod"] = served.error().method;
        stopped_at = i + 1;
      }
    }
    results.push_back(std::move(entry));
  }
  const std::size_t completed = stopped_at ? *stopped_at - 1 : lines.size();
  return Json{{"ok", !stopped_at},
              {"completed", completed},
              {"total", lines.size()},
              {"stoppedAt", stopped_at ? Json(*stopped_at) : Json(nullptr)},
              {"results", std::move(results)}};
}

}  // namespace vesk::browser
