#include "cli/dispatch.hpp"

#include <string>
#include <variant>

#include "cli/browser_commands.hpp"
#include "client/server_control.hpp"
#include "launch/instance_commands.hpp"
#include "server/server.hpp"

namespace vesk::cli {
namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
  using Handlers::operator()...;
};

Status dispatch_server(const ServerCommand& command, const AppPaths& paths) {
  if (!command.subcommand) return run_server(paths, command.args.host, command.args.port);
  switch (*command.subcommand) {
    case ServerSubcommand::stop: return stop_server(paths);
    case ServerSubcommand::restart: return restart_server(paths, command.args.host, command.args.port);
  }
  return fail("unknown server subcommand");
}

LaunchOptions launch_options(const StartInstanceArgs& args) {
  return LaunchOptions{
      .profile = args.profile,
      .mode = args.headed ? BrowserMode::Headed : BrowserMode::Headless,
      .browser_binary = args.browser_binary,
      .server_host = args.server_host,
      .server_port = args.server_port,
  };
}

Status dispatch_instance(const InstanceCommand& command, const AppPaths& paths) {
  return std::visit(
      Overloaded{
          [&](const InstanceList&) { return list_instances_command(paths); },
          [&](const StartInstanceArgs& args) { return start_instance_command(paths, launch_options(args)); },
          [&](const InstanceStop& stop) { return stop_instance_command(paths, stop.id); },
      },
      command.subcommand);
}

Status dispatch_no_args(CommandWord word, const AppPaths& paths) {
  if (word == CommandWord::snapshot) return run_snapshot(browser_sender(paths));
  return show_status(paths);  // health, status
}

}  // namespace

// One line per kind of command; each calls the handler of that kind.
Status dispatch(const Cli& cli, const AppPaths& paths) {
  const CommandWord word = cli.word;
  const RequestSender send = browser_sender(paths);
  return std::visit(
      Overloaded{
          [&](const NoArgs&) { return dispatch_no_args(word, paths); },
          [&](const ServerCommand& command) { return dispatch_server(command, paths); },
          [&](const InstanceCommand& command) { return dispatch_instance(command, paths); },
          [&](const ProfileCommand& command) { return run_profile_command(send, command); },
          [&](const TabArgs& args) { return run_tab_command(send, args); },
          [&](const NavArgs& args) { return run_navigation(send, args); },
          [&](const SnapArgs& args) { return run_snap(send, args); },
          [&](const ActionArgs& args) { return run_action_command(send, word, args); },
          [&](const AfterActionArgs& args) { return run_history_command(send, word, args); },
          [&](const PdfArgs& args) { return run_pdf(send, args); },
          [&](const ScreenshotArgs& args) { return run_screenshot(send, args); },
          [&](const DownloadArgs& args) { return run_download(send, args); },
          [&](const UploadArgs& args) { return run_upload(send, args); },
          [&](const RawBrowserArgs& args) { return run_raw_browser_command(send, word, args); },
      },
      cli.args);
}

}  // namespace vesk::cli
