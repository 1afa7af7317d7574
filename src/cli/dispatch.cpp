#include "cli/dispatch.hpp"

#include <string>
#include <variant>

namespace vesk::cli {
namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
  using Handlers::operator()...;
};

// The stand-in of a handler that is not written yet.
Status not_available_yet(std::string_view command) {
  return fail(std::string(command) + " is not available yet");
}

Status dispatch_server(const ServerCommand& command, const AppPaths& paths) {
  (void)paths;
  if (!command.subcommand) return not_available_yet("server");  // serve in this process
  switch (*command.subcommand) {
    case ServerSubcommand::stop: return not_available_yet("server stop");
    case ServerSubcommand::restart: return not_available_yet("server restart");
  }
  return not_available_yet("server");
}

Status dispatch_instance(const InstanceCommand& command, const AppPaths& paths) {
  (void)paths;
  return std::visit(
      Overloaded{
          [&](const InstanceList&) { return not_available_yet("instance list"); },
          [&](const StartInstanceArgs&) { return not_available_yet("instance start"); },
          [&](const InstanceStop&) { return not_available_yet("instance stop"); },
      },
      command.subcommand);
}

Status dispatch_no_args(CommandWord word, const AppPaths& paths) {
  (void)paths;
  if (word == CommandWord::snapshot) return not_available_yet("snapshot");
  return not_available_yet(command_word_text(word));  // health, status
}

}  // namespace

// One line per kind of command; each calls the handler of that kind.
Status dispatch(const Cli& cli, const AppPaths& paths) {
  const CommandWord word = cli.word;
  const std::string_view text = command_word_text(word);
  return std::visit(
      Overloaded{
          [&](const NoArgs&) { return dispatch_no_args(word, paths); },
          [&](const ServerCommand& command) { return dispatch_server(command, paths); },
          [&](const InstanceCommand& command) { return dispatch_instance(command, paths); },
          [&](const ProfileCommand&) { return not_available_yet(text); },
          [&](const TabArgs&) { return not_available_yet(text); },
          [&](const NavArgs&) { return not_available_yet(text); },
          [&](const SnapArgs&) { return not_available_yet(text); },
          [&](const ActionArgs&) { return not_available_yet(text); },
          [&](const AfterActionArgs&) { return not_available_yet(text); },
          [&](const PdfArgs&) { return not_available_yet(text); },
          [&](const ScreenshotArgs&) { return not_available_yet(text); },
          [&](const DownloadArgs&) { return not_available_yet(text); },
          [&](const UploadArgs&) { return not_available_yet(text); },
          [&](const RawBrowserArgs&) { return not_available_yet(text); },
      },
      cli.args);
}

}  // namespace vesk::cli
