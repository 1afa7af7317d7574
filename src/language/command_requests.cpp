// A whole parsed command line as the requests it sends, for those commands that are
// requests to the browser and nothing more.
#include "language/requests.hpp"

namespace vesk::cli {
namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
  using Handlers::operator()...;
};

std::string quoted(CommandWord word) { return "\"" + std::string(command_word_text(word)) + "\""; }

Result<CommandRequests> not_a_request(CommandWord word, const std::string& why) {
  return fail(quoted(word) + " is not a single browser request: " + why);
}

AfterSnapshot after_snapshot(bool snap, bool snap_diff) {
  if (snap_diff) return AfterSnapshot::diff;
  return snap ? AfterSnapshot::snapshot : AfterSnapshot::none;
}

CommandRequests action_requests(CommandWord word, const ActionArgs& args) {
  if (word == CommandWord::click) {
    // A click at coordinates forwards its options and takes no snapshots of its own.
    if (auto click = coordinate_click_request(args)) return {std::move(*click), {}, AfterSnapshot::none, args.tab};
  }
  return {action_request(word, args), {}, after_snapshot(args.snap, args.snap_diff), args.tab};
}

CommandRequests navigation_requests(const NavArgs& args) {
  CommandRequests requests{navigate_request(args), {}, AfterSnapshot::none, args.tab};
  for (auto& follow_up : navigation_follow_ups(args)) requests.follow_ups.push_back(std::move(follow_up.request));
  return requests;
}

CommandRequests single(BrowserRequest request) { return {std::move(request), {}, AfterSnapshot::none, std::nullopt}; }

Result<CommandRequests> single(Result<BrowserRequest> request) {
  if (!request) return fail(std::move(request.error()));
  return single(std::move(*request));
}

}  // namespace

Result<CommandRequests> command_requests(const Cli& cli) {
  const CommandWord word = cli.word;
  return std::visit(
      Overloaded{
          [&](const NoArgs&) -> Result<CommandRequests> {
            if (word == CommandWord::snapshot) return single(snapshot_request());
            return not_a_request(word, "it reads the local state and the server");
          },
          [&](const ServerCommand&) -> Result<CommandRequests> {
            return not_a_request(word, "it controls the local server");
          },
          [&](const InstanceCommand&) -> Result<CommandRequests> {
            return not_a_request(word, "it starts and stops browser processes");
          },
          [&](const ProfileCommand& command) -> Result<CommandRequests> { return single(profile_request(command)); },
          [&](const TabArgs& args) -> Result<CommandRequests> { return single(tab_request(args)); },
          [&](const NavArgs& args) -> Result<CommandRequests> { return navigation_requests(args); },
          [&](const SnapArgs& args) -> Result<CommandRequests> {
            return CommandRequests{snap_request(args), {}, AfterSnapshot::none, args.tab};
          },
          [&](const ActionArgs& args) -> Result<CommandRequests> { return action_requests(word, args); },
          [&](const AfterActionArgs& args) -> Result<CommandRequests> {
            return single(history_request(history_method(word).value_or("nav.reload"), args));
          },
          [&](const PdfArgs& args) -> Result<CommandRequests> { return single(pdf_request(args)); },
          [&](const ScreenshotArgs& args) -> Result<CommandRequests> { return single(screenshot_request(args)); },
          [&](const DownloadArgs&) -> Result<CommandRequests> {
            return not_a_request(word, "it reports the download's progress on the command line");
          },
          [&](const UploadArgs&) -> Result<CommandRequests> {
            return not_a_request(word, "it reads the files to upload on the command line's side");
          },
          [&](const RawBrowserArgs& args) -> Result<CommandRequests> {
            if (word == CommandWord::mouse) return CommandRequests{mouse_request(args), {}, AfterSnapshot::none, args.tab};
            const auto method = raw_command_method(word);
            if (!method) return not_a_request(word, "it has no browser method");
            return CommandRequests{raw_request(*method, args), {}, AfterSnapshot::none, args.tab};
          },
      },
      cli.args);
}

}  // namespace vesk::cli
