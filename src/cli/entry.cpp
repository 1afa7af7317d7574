#include "cli/entry.hpp"

#include <cstdio>
#include <string>
#include <variant>

#include "base/log.hpp"
#include "base/paths.hpp"
#include "cli/dispatch.hpp"
#include "language/parser.hpp"

namespace vesk::cli {
namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int print_help(const std::string& text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  return written && std::fflush(stdout) == 0 ? kExitSuccess : kExitFailure;
}

int report_failure(const Error& error) {
  write_stderr(error.text() + "\n");
  return kExitFailure;
}

}  // namespace

int run_program(const std::vector<std::string>& words) {
  ParseOutcome outcome = parse_command_line(words);
  if (const auto* usage = std::get_if<UsageError>(&outcome)) {
    write_stderr(usage->text);
    return kExitUsage;
  }
  if (const auto* help = std::get_if<HelpRequest>(&outcome)) return print_help(help->text);
  const Cli& cli = std::get<Cli>(outcome);

  verbosity_level = cli.verbose;
  const Result<AppPaths> paths = resolve_app_paths();
  if (!paths) return report_failure(paths.error());
  log_info("using data dir " + paths->data_dir.string() + " and store " + paths->state_path.string());

  const Status status = dispatch(cli, *paths);
  return status ? kExitSuccess : report_failure(status.error());
}

}  // namespace vesk::cli
