#include "language/word_scan.hpp"

#include <algorithm>
#include <cctype>
#include <map>
#include <string_view>

#include "language/similar_word.hpp"

namespace vesk::cli {
namespace {

constexpr unsigned kMaxVerbosity = 255;

bool looks_like_option(std::string_view word) { return word.size() > 1 && word.front() == '-'; }

bool has_subcommands(const CLI::App& app) { return !app.get_subcommands({}).empty(); }

const CLI::App* find_subcommand(const CLI::App& app, std::string_view word) {
  for (const CLI::App* sub : app.get_subcommands({})) {
    if (sub->get_name() == word) return sub;
  }
  return nullptr;
}

std::vector<std::string> subcommand_words(const CLI::App& app) {
  std::vector<std::string> words;
  for (const CLI::App* sub : app.get_subcommands({})) words.push_back(sub->get_name());
  words.emplace_back("help");
  return words;
}

std::vector<const CLI::Option*> named_options(const CLI::App& app) {
  return app.get_options([](const CLI::Option* option) { return option->nonpositional(); });
}

// Options by their long name ("--tab") or short letter ("o"); -h/-v are handled apart.
const CLI::Option* find_long(const CLI::App& app, std::string_view name) {
  for (const CLI::Option* option : named_options(app)) {
    for (const auto& long_name : option->get_lnames()) {
      if ("--" + long_name == name) return option;
    }
  }
  return nullptr;
}

const CLI::Option* find_short(const CLI::App& app, char letter) {
  for (const CLI::Option* option : named_options(app)) {
    for (const auto& short_name : option->get_snames()) {
      if (short_name.size() == 1 && short_name.front() == letter) return option;
    }
  }
  return nullptr;
}

bool is_short_letter(const CLI::App& app, char letter) {
  return letter == 'h' || letter == 'v' || find_short(app, letter) != nullptr;
}

std::vector<std::string> long_option_names(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::Option* option : named_options(app)) {
    for (const auto& long_name : option->get_lnames()) names.push_back("--" + long_name);
  }
  names.emplace_back("--verbose");  // --help is among the options already
  return names;
}

// Whether a word beginning with "-" names options of the command: a known long option
// (with or without "=value"), or a cluster made only of known short letters.
bool is_option_word(const CLI::App& app, std::string_view word) {
  if (word.starts_with("--")) {
    const std::string_view name = word.substr(0, word.find('='));
    return name == "--help" || name == "--verbose" || find_long(app, name) != nullptr;
  }
  return std::all_of(word.begin() + 1, word.end(),
                     [&](char letter) { return is_short_letter(app, letter); });
}

bool has_letter_or_digit_besides_short_options(const CLI::App& app, std::string_view word) {
  return std::any_of(word.begin(), word.end(), [&](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) && !is_short_letter(app, c);
  });
}

bool is_flag(const CLI::Option& option) { return option.get_expected_max() == 0; }
bool is_repeatable(const CLI::Option& option) { return option.get_items_expected_max() > 1; }
std::string display_name(const CLI::Option& option) { return "--" + option.get_lnames().front(); }

std::string suggestion_line(std::string_view what, const std::optional<std::string>& similar) {
  if (!similar) return {};
  return "\n\n  tip: a similar " + std::string(what) + " exists: '" + *similar + "'";
}

using Stop = std::variant<ScanHelp, ScanError>;

class WordScanner {
 public:
  WordScanner(const Grammar& grammar, const std::vector<std::string>& words)
      : grammar_(grammar), words_(words) {
    levels_.push_back(Level{&grammar.root()});
  }

  ScanOutcome run() {
    while (next_ < words_.size()) {
      const std::string& word = words_[next_++];
      std::optional<Stop> stop = read_word(word);
      if (stop) return std::visit([](auto& outcome) -> ScanOutcome { return outcome; }, *stop);
    }
    return finish();
  }

 private:
  struct Level {
    const CLI::App* app;
    std::vector<std::string> option_words{};
    std::vector<std::string> positionals{};
    unsigned verbose = 0;
    std::map<const CLI::Option*, int> uses{};
  };

  Level& level() { return levels_.back(); }
  const CLI::App& app() { return *levels_.back().app; }
  ListShape shape() { return grammar_.list_shape(app()); }

  Stop error(std::string message) { return ScanError{&app(), std::move(message)}; }
  Stop error_at(const CLI::App& at, std::string message) { return ScanError{&at, std::move(message)}; }

  // The list is the next positional to fill: from the start for a trailing list, once
  // the selector is given for an options-first list.
  bool list_is_next() {
    switch (shape()) {
      case ListShape::trailing: return true;
      case ListShape::options_first: return selector_.has_value();
      case ListShape::none: return false;
    }
    return false;
  }

  std::optional<Stop> read_word(const std::string& word) {
    if (list_started_) {
      list_.push_back(word);
      return std::nullopt;
    }
    if (!options_ended_ && word == "--") {
      options_ended_ = true;
      return std::nullopt;
    }
    if (!options_ended_ && looks_like_option(word)) {
      if (list_is_next() && !is_option_word(app(), word)) {
        list_started_ = true;
        list_.push_back(word);
        return std::nullopt;
      }
      return word.starts_with("--") ? read_long_option(word) : read_short_cluster(word);
    }
    return read_bare_word(word);
  }

  std::optional<Stop> read_bare_word(const std::string& word) {
    if (!options_ended_ && has_subcommands(app())) {
      if (word == "help") return read_help_words();
      if (const CLI::App* sub = find_subcommand(app(), word)) {
        levels_.push_back(Level{sub});
        return std::nullopt;
      }
      return error("unrecognized subcommand '" + word + "'" +
                   suggestion_line("subcommand", most_similar_word(word, subcommand_words(app()))));
    }
    switch (shape()) {
      case ListShape::options_first:
        if (!selector_) {
          selector_ = word;
          return std::nullopt;
        }
        [[fallthrough]];
      case ListShape::trailing:
        list_started_ = true;
        list_.push_back(word);
        return std::nullopt;
      case ListShape::none:
        break;
    }
    const auto capacity =
        app().get_options([](const CLI::Option* option) { return option->get_positional(); }).size();
    if (level().positionals.size() >= capacity) {
      return error("unexpected argument '" + word + "': " + Grammar::command_path(app()) +
                   (capacity == 0 ? " takes no positional arguments"
                                  : " takes at most " + std::to_string(capacity) +
                                        " positional argument" + (capacity == 1 ? "" : "s")));
    }
    level().positionals.push_back(word);
    return std::nullopt;
  }

  // "help", optionally followed by subcommand words: the help of the command they name.
  std::optional<Stop> read_help_words() {
    const CLI::App* target = &app();
    while (next_ < words_.size()) {
      const std::string& word = words_[next_++];
      const CLI::App* sub = find_subcommand(*target, word);
      if (sub == nullptr) {
        if (!has_subcommands(*target)) {
          return error_at(*target, "unexpected argument '" + word + "' after help");
        }
        return error_at(*target, "unrecognized subcommand '" + word + "'" +
                                     suggestion_line("subcommand",
                                                     most_similar_word(word, subcommand_words(*target))));
      }
      target = sub;
    }
    return ScanHelp{target};
  }

  std::optional<Stop> read_long_option(const std::string& word) {
    const auto equals = word.find('=');
    const std::string name = word.substr(0, equals);
    std::optional<std::string> attached;
    if (equals != std::string::npos) attached = word.substr(equals + 1);
    if (name == "--help") return ScanHelp{&app()};
    if (name == "--verbose") return count_verbose(name, attached);
    const CLI::Option* option = find_long(app(), name);
    if (option == nullptr) {
      return error("unknown option '" + name + "' for " + Grammar::command_path(app()) +
                   suggestion_line("option", most_similar_word(name, long_option_names(app()))));
    }
    return use_option(*option, name, attached);
  }

  std::optional<Stop> read_short_cluster(const std::string& word) {
    for (std::size_t at = 1; at < word.size(); ++at) {
      const char letter = word[at];
      const std::string name{'-', letter};
      if (letter == 'h') return ScanHelp{&app()};
      if (letter == 'v') {
        if (auto stop = count_verbose(name, std::nullopt)) return stop;
        continue;
      }
      const CLI::Option* option = find_short(app(), letter);
      if (option == nullptr) {
        return error("unknown option '" + name + "'" +
                     (word.size() > 2 ? " in '" + word + "'" : std::string{}) + " for " +
                     Grammar::command_path(app()));
      }
      if (is_flag(*option)) {
        if (auto stop = use_option(*option, name, std::nullopt)) return stop;
        continue;
      }
      // A value option takes the rest of the cluster as its value ("-ofile", "-o=file"),
      // or else the next word.
      std::string rest = word.substr(at + 1);
      const bool has_equals = rest.starts_with('=');
      if (has_equals) rest.erase(0, 1);
      return use_option(*option, name,
                        rest.empty() && !has_equals ? std::nullopt : std::optional(rest));
    }
    return std::nullopt;
  }

  std::optional<Stop> count_verbose(const std::string& name, const std::optional<std::string>& attached) {
    if (attached) return error("flag '" + name + "' takes no value, but was given '" + *attached + "'");
    level().verbose = std::min(level().verbose + 1, kMaxVerbosity);
    return std::nullopt;
  }

  std::optional<Stop> use_option(const CLI::Option& option, const std::string& name,
                                 const std::optional<std::string>& attached) {
    const std::string long_name = display_name(option);
    if (++level().uses[&option] > 1 && !is_repeatable(option)) {
      return error("the argument '" + long_name + "' cannot be used more than once");
    }
    if (is_flag(option)) {
      if (attached) {
        return error("flag '" + name + "' takes no value, but was given '" + *attached + "'");
      }
      level().option_words.push_back(long_name);
      return std::nullopt;
    }
    std::string value;
    if (attached) {
      value = *attached;
    } else {
      if (next_ >= words_.size() || !value_word_allowed(words_[next_])) {
        return error("option '" + name + "' requires a value <" + option.get_type_name() + ">" +
                     (next_ < words_.size() ? "; a value beginning with '-' must be attached, as in " +
                                                  long_name + "=" + words_[next_]
                                            : std::string{}));
      }
      value = words_[next_++];
    }
    // CLI11 splits "--name=value" at the first "=" only; an empty value goes as its own
    // word, since "--name=" would make it take the next word instead.
    if (value.empty()) {
      level().option_words.push_back(long_name);
      level().option_words.emplace_back();
    } else {
      level().option_words.push_back(long_name + "=" + value);
    }
    return std::nullopt;
  }

  // A separate word after an option that takes a value.
  bool value_word_allowed(const std::string& word) {
    if (!looks_like_option(word)) return true;
    switch (shape()) {
      case ListShape::trailing:
        return true;  // the only value option of these commands is --tab, which takes any word
      case ListShape::options_first:
        return selector_.has_value() && !list_started_ && !is_option_word(app(), word) &&
               has_letter_or_digit_besides_short_options(app(), word);
      case ListShape::none:
        return false;
    }
    return false;
  }

  ScanOutcome finish() {
    ScannedLine line;
    for (std::size_t depth = 0; depth < levels_.size(); ++depth) {
      Level& at = levels_[depth];
      line.chain.push_back(at.app);
      if (depth > 0) line.cli11_words.push_back(at.app->get_name());
      line.cli11_words.insert(line.cli11_words.end(), at.option_words.begin(), at.option_words.end());
      if (!at.positionals.empty()) {
        line.cli11_words.emplace_back("--");
        line.cli11_words.insert(line.cli11_words.end(), at.positionals.begin(), at.positionals.end());
      }
      if (at.verbose > 0) line.verbose = static_cast<std::uint8_t>(at.verbose);
    }
    line.selector = std::move(selector_);
    line.list = std::move(list_);
    return line;
  }

  const Grammar& grammar_;
  const std::vector<std::string>& words_;
  std::size_t next_ = 0;
  std::vector<Level> levels_;
  bool options_ended_ = false;
  bool list_started_ = false;
  std::optional<std::string> selector_;
  std::vector<std::string> list_;
};

}  // namespace

ScanOutcome scan_words(const Grammar& grammar, const std::vector<std::string>& words) {
  return WordScanner(grammar, words).run();
}

}  // namespace vesk::cli
