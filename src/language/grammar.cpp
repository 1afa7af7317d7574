#include "language/grammar.hpp"

#include <cctype>
#include <charconv>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "base/json.hpp"
#include "language/number_text.hpp"

namespace vesk::cli {
namespace {

// ---- value checks ---------------------------------------------------------------------

CLI::Validator valid_utf8_text() {
  return CLI::Validator(
      [](std::string& value) {
        return is_valid_utf8(value) ? std::string{} : std::string("value is not valid UTF-8");
      },
      "", "utf8");
}

// Accepts a strict decimal integer up to `max` and hands CLI11 its plain digits, so that
// CLI11's own, more lenient conversion has nothing left to interpret.
CLI::Validator unsigned_decimal_up_to(std::uint64_t max) {
  return CLI::Validator(
      [max](std::string& value) {
        const auto number = parse_unsigned_decimal(value, max);
        if (!number) {
          return "'" + value + "' is not a whole number from 0 to " + std::to_string(max);
        }
        value = std::to_string(*number);
        return std::string{};
      },
      "", "unsigned");
}

// Accepts a decimal floating-point number and hands CLI11 its exact hexadecimal form, so
// that the value is not rounded a second time on the way into the double.
CLI::Validator decimal_float() {
  return CLI::Validator(
      [](std::string& value) {
        const auto number = parse_decimal_float(value);
        if (!number) return "'" + value + "' is not a decimal number";
        char buffer[64];
        const auto written = std::to_chars(buffer, buffer + sizeof buffer, *number,
                                           std::chars_format::hex);
        std::string text(buffer, written.ptr);
        const bool negative = text.front() == '-';
        const std::size_t digits_at = negative ? 1 : 0;
        if (std::isdigit(static_cast<unsigned char>(text[digits_at]))) {
          text.insert(digits_at, "0x");  // finite: "-1.8p+1" becomes "-0x1.8p+1"
        }
        value = text;
        return std::string{};
      },
      "", "float");
}

// ---- definitions ----------------------------------------------------------------------

// "--snap-diff" gives SNAP_DIFF, "-o,--output" OUTPUT, the positional "url" URL.
std::string value_name(std::string_view names) {
  const auto comma = names.rfind(',');
  std::string_view name = comma == std::string_view::npos ? names : names.substr(comma + 1);
  while (!name.empty() && name.front() == '-') name.remove_prefix(1);
  std::string upper;
  for (char c : name) {
    upper += c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return upper;
}

// Adds the arguments of one command, each with its value name and value check.
class Arguments {
 public:
  explicit Arguments(CLI::App& app) : app_(app) {}

  CLI::Option* flag(const std::string& names, bool& field) {
    return app_.add_flag(names, field)->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  }
  template <class Field>
  CLI::Option* text(const std::string& names, Field& field) {
    return value(names, field)->check(valid_utf8_text());
  }
  template <class Field>
  CLI::Option* path(const std::string& names, Field& field) {
    return value(names, field);
  }
  template <class Field>
  CLI::Option* port(const std::string& names, Field& field) {
    return value(names, field)->transform(unsigned_decimal_up_to(65535));
  }
  template <class Field>
  CLI::Option* count(const std::string& names, Field& field) {
    return value(names, field)->transform(
        unsigned_decimal_up_to(std::numeric_limits<std::uint32_t>::max()));
  }
  template <class Field>
  CLI::Option* number(const std::string& names, Field& field) {
    return value(names, field)->transform(decimal_float());
  }
  // One value per occurrence, in command-line order.
  CLI::Option* repeated_text(const std::string& names, std::vector<std::string>& field) {
    return repeated(names, field)->check(valid_utf8_text());
  }
  CLI::Option* repeated_path(const std::string& names, std::vector<std::string>& field) {
    return repeated(names, field);
  }
  template <class Field>
  CLI::Option* positional_text(const std::string& name, Field& field) {
    return app_.add_option(name, field)->type_name(value_name(name))->check(valid_utf8_text());
  }
  // A word list that the word scan fills; declared here for the usage text.
  CLI::Option* word_list(const std::string& name, std::vector<std::string>& field) {
    return app_.add_option(name, field)->type_name(value_name(name));
  }

 private:
  template <class Field>
  CLI::Option* value(const std::string& names, Field& field) {
    return app_.add_option(names, field)
        ->type_name(value_name(names))
        ->option_text("<" + value_name(names) + ">")
        ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  }
  CLI::Option* repeated(const std::string& names, std::vector<std::string>& field) {
    return app_.add_option(names, field)
        ->type_name(value_name(names))
        ->option_text("<" + value_name(names) + ">...")
        ->allow_extra_args(false);
  }

  CLI::App& app_;
};

void define_server(CLI::App& app, ServerArgs& record) {
  Arguments arguments(app);
  arguments.text("--host", record.host)->option_text("<HOST> [default: 127.0.0.1]");
  arguments.port("--port", record.port)->option_text("<PORT> [default: 51234]");
  app.require_subcommand(0, 1);
  app.add_subcommand("stop");
  app.add_subcommand("restart");
}

void define_profile(CLI::App& app, RecordSlots& slots) {
  app.require_subcommand(1);
  app.add_subcommand("list");
  Arguments(*app.add_subcommand("create")).positional_text("name", slots.profile_create.name)->required();
  Arguments(*app.add_subcommand("open")).positional_text("id", slots.profile_open.id)->required();
  Arguments(*app.add_subcommand("delete")).positional_text("id", slots.profile_delete.id)->required();
}

void define_instance(CLI::App& app, RecordSlots& slots) {
  app.require_subcommand(1);
  app.add_subcommand("list");
  StartInstanceArgs& start = slots.instance_start;
  Arguments arguments(*app.add_subcommand("start"));
  arguments.text("--profile", start.profile)->option_text("<PROFILE> [default: default]");
  CLI::Option* headless = arguments.flag("--headless", start.headless);
  CLI::Option* headed = arguments.flag("--headed", start.headed);
  headless->excludes(headed);
  headed->excludes(headless);
  arguments.path("--browser-binary", start.browser_binary)
      ->option_text("<BROWSER_BINARY> [default: veskbrowser]");
  arguments.text("--server-host", start.server_host);
  arguments.port("--server-port", start.server_port);
  Arguments(*app.add_subcommand("stop")).positional_text("id", slots.instance_stop.id)->required();
}

void define_tab(CLI::App& app, TabArgs& record) {
  Arguments arguments(app);
  arguments.positional_text("command_or_id", record.command_or_id);
  arguments.positional_text("tab_id", record.tab_id);
}

void define_nav(CLI::App& app, NavArgs& record) {
  Arguments arguments(app);
  arguments.positional_text("url", record.url)->required();
  arguments.flag("--snap", record.snap);
  arguments.flag("--snap-diff", record.snap_diff);
  arguments.flag("--text", record.text);
  arguments.flag("--new-tab", record.new_tab);
  arguments.text("--tab", record.tab);
  arguments.flag("--block-images", record.block_images);
  arguments.flag("--block-ads", record.block_ads);
  arguments.flag("--dismiss-banners", record.dismiss_banners);
  arguments.flag("--print-tab-id", record.print_tab_id);
  arguments.flag("--pdf", record.pdf);
  arguments.flag("--screenshot", record.screenshot);
  arguments.flag("--capture", record.capture);
}

void define_snap(CLI::App& app, SnapArgs& record) {
  Arguments arguments(app);
  arguments.positional_text("selector", record.selector);
  arguments.text("--tab", record.tab);
  arguments.flag("--full", record.full);
  arguments.flag("-d,--diff", record.diff);
  arguments.flag("-i,--interactive", record.interactive);
  arguments.flag("-c,--compact", record.compact);
  arguments.count("--max-tokens", record.max_tokens);
}

void define_action(CLI::App& app, ActionArgs& record) {
  Arguments arguments(app);
  arguments.positional_text("selector", record.selector);
  arguments.word_list("args", record.args);
  arguments.text("--tab", record.tab);
  arguments.flag("--snap", record.snap);
  arguments.flag("--snap-diff", record.snap_diff);
  arguments.flag("--text", record.text);
  arguments.flag("--wait-nav", record.wait_nav);
  arguments.flag("--dismiss-banners", record.dismiss_banners);
  arguments.text("--mode", record.mode);
  arguments.flag("--humanize", record.humanize);
  arguments.number("--x", record.x);
  arguments.number("--y", record.y);
  arguments.text("--dialog-action", record.dialog_action);
  arguments.text("--dialog-text", record.dialog_text);
}

void define_after_action(CLI::App& app, AfterActionArgs& record) {
  Arguments arguments(app);
  arguments.flag("--snap", record.snap);
  arguments.flag("--snap-diff", record.snap_diff);
  arguments.flag("--text", record.text);
  arguments.flag("--dismiss-banners", record.dismiss_banners);
}

void define_raw(CLI::App& app, RawBrowserArgs& record) {
  Arguments arguments(app);
  arguments.text("--tab", record.tab);
  arguments.word_list("args", record.args);
}

void define_pdf(CLI::App& app, PdfArgs& record) {
  Arguments arguments(app);
  arguments.path("-o,--output", record.output);
  arguments.flag("--landscape", record.landscape);
}

void define_screenshot(CLI::App& app, ScreenshotArgs& record) {
  Arguments arguments(app);
  arguments.path("-o,--output", record.output);
  arguments.flag("--full", record.full);
}

void define_download(CLI::App& app, DownloadArgs& record) {
  Arguments arguments(app);
  arguments.positional_text("url", record.url)->required();
  arguments.path("-o,--output", record.output);
  arguments.path("--dir", record.dir);
  arguments.text("-t,--tab", record.tab);
  arguments.flag("--overwrite", record.overwrite);
  arguments.flag("--wait", record.wait);
}

void define_upload(CLI::App& app, UploadArgs& record) {
  Arguments arguments(app);
  arguments.positional_text("selector", record.selector);
  arguments.word_list("files", record.files);
  arguments.repeated_text("-b,--base64", record.base64);
  arguments.repeated_path("-B,--base64-file", record.base64_file);
  arguments.text("-t,--tab", record.tab);
  arguments.flag("--snap-diff", record.snap_diff);
}

// Usage text in the house style: <VALUE> for required positionals, [VALUE] for optional
// ones, [VALUE]... for word lists; no descriptions.
class UsageFormatter : public CLI::Formatter {
 public:
  std::string make_option_usage(const CLI::Option* option) const override {
    return positional_label(option);
  }
  std::string make_option_name(const CLI::Option* option, bool is_positional) const override {
    if (is_positional) return positional_label(option);
    return CLI::Formatter::make_option_name(option, is_positional);
  }
  std::string make_option_opts(const CLI::Option* option) const override {
    if (option->get_positional()) return {};
    return CLI::Formatter::make_option_opts(option);
  }

 private:
  static std::string positional_label(const CLI::Option* option) {
    const std::string name = option->get_type_name();
    if (option->get_required()) return "<" + name + ">";
    if (option->get_expected_max() > 1) return "[" + name + "]...";
    return "[" + name + "]";
  }
};

}  // namespace

RecordKind record_kind_of(CommandWord word) {
  using W = CommandWord;
  switch (word) {
    case W::server: return RecordKind::server;
    case W::health: case W::status: case W::snapshot: return RecordKind::none;
    case W::profile: case W::profiles: return RecordKind::profile;
    case W::instance: case W::instances: return RecordKind::instance;
    case W::tab: case W::tabs: return RecordKind::tab;
    case W::nav: case W::navigate: return RecordKind::nav;
    case W::snap: return RecordKind::snap;
    case W::click: case W::fill: case W::select: return RecordKind::action;
    case W::back: case W::forward: case W::reload: return RecordKind::after_action;
    case W::pdf: return RecordKind::pdf;
    case W::screenshot: case W::ss: return RecordKind::screenshot;
    case W::download: return RecordKind::download;
    case W::upload: return RecordKind::upload;
    default: return RecordKind::raw;
  }
}

Grammar::Grammar() : root_(std::make_unique<CLI::App>("VeskApp command line controller", "vesk")) {
  define_program();
  for (std::size_t index = 0; index < kCommandWords.size(); ++index) {
    define_command(static_cast<CommandWord>(index));
  }
}

Grammar::Grammar(CommandWord only)
    : root_(std::make_unique<CLI::App>("VeskApp command line controller", "vesk")) {
  define_program();
  define_command(only);
}

void Grammar::define_program() {
  CLI::App& root = *root_;
  root.formatter(std::make_shared<UsageFormatter>());
  // Inherited by every command defined below; the word scan answers it, CLI11 only lists it.
  root.set_help_flag("-h,--help");
  root.require_subcommand(1);
  // -v/--verbose is counted by the word scan at every level; declared here for the usage.
  root.add_flag("-v,--verbose");
}

void Grammar::define_command(CommandWord word) {
  CLI::App& app = *root_->add_subcommand(std::string(command_word_text(word)));
  switch (record_kind_of(word)) {
    case RecordKind::none: break;
    case RecordKind::server: define_server(app, slots_.server); break;
    case RecordKind::profile: define_profile(app, slots_); break;
    case RecordKind::instance: define_instance(app, slots_); break;
    case RecordKind::tab: define_tab(app, slots_.tab); break;
    case RecordKind::nav: define_nav(app, slots_.nav); break;
    case RecordKind::snap: define_snap(app, slots_.snap); break;
    case RecordKind::action:
      define_action(app, slots_.action);
      shapes_[&app] = ListShape::options_first;
      break;
    case RecordKind::after_action: define_after_action(app, slots_.after_action); break;
    case RecordKind::pdf: define_pdf(app, slots_.pdf); break;
    case RecordKind::screenshot: define_screenshot(app, slots_.screenshot); break;
    case RecordKind::download: define_download(app, slots_.download); break;
    case RecordKind::upload:
      define_upload(app, slots_.upload);
      shapes_[&app] = ListShape::options_first;
      break;
    case RecordKind::raw:
      define_raw(app, slots_.raw);
      shapes_[&app] = ListShape::trailing;
      break;
  }
}

ListShape Grammar::list_shape(const CLI::App& app) const {
  const auto found = shapes_.find(&app);
  return found == shapes_.end() ? ListShape::none : found->second;
}

std::string Grammar::command_path(const CLI::App& app) {
  std::string path = app.get_name();
  for (const CLI::App* parent = app.get_parent(); parent != nullptr; parent = parent->get_parent()) {
    path = parent->get_name() + " " + path;
  }
  return path;
}

std::string Grammar::usage(const CLI::App& app) const {
  const auto formatter = std::static_pointer_cast<CLI::Formatter>(root_->get_formatter());
  return formatter->make_usage(&app, command_path(app));
}

std::string Grammar::help(const CLI::App& app) const {
  const auto formatter = std::static_pointer_cast<CLI::Formatter>(root_->get_formatter());
  return formatter->make_help(&app, command_path(app), CLI::AppFormatMode::Normal);
}

}  // namespace vesk::cli
