#include "language/parser.hpp"

#include <algorithm>

#include "base/json.hpp"
#include "language/grammar.hpp"
#include "language/word_scan.hpp"

namespace vesk::cli {
namespace {

// The error, the usage of the command concerned and where to read more. A command that
// lacks its required subcommand word shows its whole help, which lists those words.
UsageError usage_error(const Grammar& grammar, const CLI::App& app, const std::string& message,
                       bool lacks_subcommand = false) {
  std::string text = "error: " + message + "\n\n";
  text += lacks_subcommand ? grammar.help(app) : grammar.usage(app) + "\n";
  text += "For more information, try '" + Grammar::command_path(app) + " --help'.\n";
  return UsageError{std::move(text)};
}

std::optional<std::string> invalid_utf8_in(const std::string& name,
                                          const std::optional<std::string>& selector,
                                          const std::vector<std::string>& words) {
  if (selector && !is_valid_utf8(*selector)) return "invalid UTF-8 in selector";
  for (const auto& word : words) {
    if (!is_valid_utf8(word)) return "invalid UTF-8 in " + name;
  }
  return std::nullopt;
}

ServerCommand server_command(const std::string& nested, const ServerArgs& args) {
  ServerCommand command{std::nullopt, args};
  if (nested == "stop") command.subcommand = ServerSubcommand::stop;
  if (nested == "restart") command.subcommand = ServerSubcommand::restart;
  return command;
}

ProfileCommand profile_command(const std::string& nested, const RecordSlots& slots) {
  if (nested == "create") return {slots.profile_create};
  if (nested == "open") return {slots.profile_open};
  if (nested == "delete") return {slots.profile_delete};
  return {ProfileList{}};
}

InstanceCommand instance_command(const std::string& nested, const RecordSlots& slots) {
  if (nested == "start") return {slots.instance_start};
  if (nested == "stop") return {slots.instance_stop};
  return {InstanceList{}};
}

// The record of the chosen word, from what CLI11 and the word scan filled in. Fails only
// on list words that are not valid UTF-8 (the other strings were checked by CLI11).
std::variant<CommandArgs, std::string> command_args(CommandWord word, const std::string& nested,
                                                   RecordSlots& slots, ScannedLine& line) {
  switch (record_kind_of(word)) {
    case RecordKind::none: return NoArgs{};
    case RecordKind::server: return server_command(nested, slots.server);
    case RecordKind::profile: return profile_command(nested, slots);
    case RecordKind::instance: return instance_command(nested, slots);
    case RecordKind::tab: return slots.tab;
    case RecordKind::nav: return slots.nav;
    case RecordKind::snap: return slots.snap;
    case RecordKind::after_action: return slots.after_action;
    case RecordKind::pdf: return slots.pdf;
    case RecordKind::screenshot: return slots.screenshot;
    case RecordKind::download: return slots.download;
    case RecordKind::action: {
      if (auto bad = invalid_utf8_in("args", line.selector, line.list)) return *bad;
      slots.action.selector = std::move(line.selector);
      slots.action.args = std::move(line.list);
      return slots.action;
    }
    case RecordKind::upload: {
      if (auto bad = invalid_utf8_in("files", line.selector, {})) return *bad;
      slots.upload.selector = std::move(line.selector);
      slots.upload.files = std::move(line.list);  // paths: any bytes
      return slots.upload;
    }
    case RecordKind::raw: {
      if (auto bad = invalid_utf8_in("args", std::nullopt, line.list)) return *bad;
      slots.raw.args = std::move(line.list);
      return slots.raw;
    }
  }
  return NoArgs{};
}

// The command word a line names: its first word that is not an option, or nullopt when
// there is none or it is not a command ("help", "--", a misspelling).
std::optional<CommandWord> named_command(const std::vector<std::string>& words) {
  for (const std::string& word : words) {
    if (word.size() > 1 && word.front() == '-') {
      if (word == "--") return std::nullopt;
      continue;
    }
    return command_word_from_text(word);
  }
  return std::nullopt;
}

ParseOutcome parse_with(Grammar& grammar, const std::vector<std::string>& words) {
  ScanOutcome scanned = scan_words(grammar, words);
  if (const auto* help = std::get_if<ScanHelp>(&scanned)) return HelpRequest{grammar.help(*help->app)};
  if (const auto* error = std::get_if<ScanError>(&scanned)) {
    return usage_error(grammar, *error->app, error->message);
  }
  auto& line = std::get<ScannedLine>(scanned);

  // CLI11 takes the words last one first.
  std::vector<std::string> reversed(line.cli11_words.rbegin(), line.cli11_words.rend());
  try {
    grammar.root().parse(reversed);
  } catch (const CLI::ParseError& error) {
    const CLI::App& app = *line.chain.back();
    if (app.get_require_subcommand_min() > 0 && app.get_subcommands().empty()) {
      return usage_error(grammar, app, "a subcommand is required but one was not provided", true);
    }
    return usage_error(grammar, app, error.what());
  }

  // CLI11 requires one command word, so the chain holds at least the program and it.
  const std::optional<CommandWord> word =
      line.chain.size() > 1 ? command_word_from_text(line.chain[1]->get_name()) : std::nullopt;
  if (!word) {
    return usage_error(grammar, grammar.root(), "a subcommand is required but one was not provided", true);
  }
  const std::string nested = line.chain.size() > 2 ? line.chain[2]->get_name() : std::string{};
  auto args = command_args(*word, nested, grammar.slots(), line);
  if (const auto* bad = std::get_if<std::string>(&args)) {
    return usage_error(grammar, *line.chain.back(), *bad);
  }
  return Cli{line.verbose, *word, std::move(std::get<CommandArgs>(args))};
}

}  // namespace

// A line that names a command is read with that command's part of the grammar alone.
// Anything other than a parsed command (help, a usage error) is made again from the whole
// grammar, so that every text a user reads comes from the full tree.
ParseOutcome parse_command_line(const std::vector<std::string>& words) {
  if (const auto word = named_command(words)) {
    Grammar part(*word);
    ParseOutcome outcome = parse_with(part, words);
    if (std::holds_alternative<Cli>(outcome)) return outcome;
  }
  Grammar whole;
  return parse_with(whole, words);
}

}  // namespace vesk::cli
