#pragma once
// The parsed command line: the chosen command word and its argument record. Handlers take
// these records; the parser (parser.hpp) produces them.
//
// Conventions of the records:
// - string fields hold valid UTF-8 (the parser rejects anything else);
// - path fields are std::string holding the argument's bytes exactly as given, valid
//   UTF-8 or not (a handler that must send one checks it);
// - flags are false when absent, optional fields are nullopt when not given, lists are
//   empty when no word was given.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vesk::cli {

// The 71 command words, in the order of the usage listing. Paired words ("nav" and
// "navigate", ...) are separate members that handlers treat alike.
enum class CommandWord : std::uint8_t {
  server, health, status, profile, profiles, instance, instances, tab, tabs, nav,
  navigate, snap, snapshot, click, fill, type, press, back, forward, reload,
  frame, dblclick, drag, hover, mouse, focus, scroll, eval, pdf, text,
  title, url, html, styles, value, attr, count, box, visible, enabled,
  checked, download, upload, find, select, check, uncheck, network, wait, keyboard,
  keydown, keyup, scrollintoview, dialog, console, errors, clipboard, cache, cookies, set,
  storage, state, close, handoff, resume, handoff_status, record, capture, quick, screenshot,
  ss,
};

inline constexpr std::array<std::string_view, 71> kCommandWords = {
    "server", "health", "status", "profile", "profiles", "instance", "instances", "tab",
    "tabs", "nav", "navigate", "snap", "snapshot", "click", "fill", "type", "press",
    "back", "forward", "reload", "frame", "dblclick", "drag", "hover", "mouse", "focus",
    "scroll", "eval", "pdf", "text", "title", "url", "html", "styles", "value", "attr",
    "count", "box", "visible", "enabled", "checked", "download", "upload", "find",
    "select", "check", "uncheck", "network", "wait", "keyboard", "keydown", "keyup",
    "scrollintoview", "dialog", "console", "errors", "clipboard", "cache", "cookies",
    "set", "storage", "state", "close", "handoff", "resume", "handoff-status", "record",
    "capture", "quick", "screenshot", "ss",
};

// The word as typed on the command line ("handoff-status" for handoff_status).
constexpr std::string_view command_word_text(CommandWord word) {
  return kCommandWords[static_cast<std::size_t>(word)];
}
// The member for a typed word; nullopt for anything that is not one of the 71.
std::optional<CommandWord> command_word_from_text(std::string_view text);

// ---- server, profile(s), instance(s) -------------------------------------------------

struct ServerArgs {
  std::string host = "127.0.0.1";
  std::uint16_t port = 51234;
};

enum class ServerSubcommand : std::uint8_t { stop, restart };

struct ServerCommand {
  std::optional<ServerSubcommand> subcommand;  // nullopt: run the server in this process
  ServerArgs args;                             // ignored by "stop"
};

struct ProfileList {};
struct ProfileCreate {
  std::string name;
};
struct ProfileOpen {
  std::string id;
};
struct ProfileDelete {
  std::string id;
};
struct ProfileCommand {
  std::variant<ProfileList, ProfileCreate, ProfileOpen, ProfileDelete> subcommand;
};

struct InstanceList {};
struct StartInstanceArgs {
  std::string profile = "default";
  bool headless = false;
  bool headed = false;  // never both: the parser rejects --headless with --headed
  std::string browser_binary = "veskbrowser";  // path
  std::optional<std::string> server_host;
  std::optional<std::uint16_t> server_port;
};
struct InstanceStop {
  std::string id;
};
struct InstanceCommand {
  std::variant<InstanceList, StartInstanceArgs, InstanceStop> subcommand;
};

// ---- browser commands ------------------------------------------------------------------

// "mouse" and the raw commands: words passed on to the browser unchanged.
struct RawBrowserArgs {
  std::optional<std::string> tab;
  std::vector<std::string> args;
};

// "click", "fill", "select".
struct ActionArgs {
  std::optional<std::string> selector;
  std::vector<std::string> args;
  std::optional<std::string> tab;
  bool snap = false;
  bool snap_diff = false;
  bool text = false;
  bool wait_nav = false;
  bool dismiss_banners = false;
  std::optional<std::string> mode;
  bool humanize = false;
  std::optional<double> x;
  std::optional<double> y;
  std::optional<std::string> dialog_action;
  std::optional<std::string> dialog_text;
};

// "back", "forward", "reload".
struct AfterActionArgs {
  bool snap = false;
  bool snap_diff = false;
  bool text = false;
  bool dismiss_banners = false;
};

// "nav", "navigate".
struct NavArgs {
  std::string url;
  bool snap = false;
  bool snap_diff = false;
  bool text = false;
  bool new_tab = false;
  std::optional<std::string> tab;
  bool block_images = false;
  bool block_ads = false;
  bool dismiss_banners = false;
  bool print_tab_id = false;
  bool pdf = false;
  bool screenshot = false;
  bool capture = false;
};

// "snap".
struct SnapArgs {
  std::optional<std::string> selector;
  std::optional<std::string> tab;
  bool full = false;
  bool diff = false;
  bool interactive = false;
  bool compact = false;
  std::optional<std::uint32_t> max_tokens;
};

// "tab", "tabs".
struct TabArgs {
  std::optional<std::string> command_or_id;
  std::optional<std::string> tab_id;
};

// "pdf".
struct PdfArgs {
  std::optional<std::string> output;  // path
  bool landscape = false;
};

// "screenshot", "ss".
struct ScreenshotArgs {
  std::optional<std::string> output;  // path
  bool full = false;
};

// "download".
struct DownloadArgs {
  std::string url;
  std::optional<std::string> output;  // path
  std::optional<std::string> dir;     // path
  std::optional<std::string> tab;
  bool overwrite = false;
  bool wait = false;
};

// "upload".
struct UploadArgs {
  std::optional<std::string> selector;
  std::vector<std::string> files;        // paths
  std::vector<std::string> base64;       // in command-line order
  std::vector<std::string> base64_file;  // paths, in command-line order
  std::optional<std::string> tab;
  bool snap_diff = false;
};

// "health", "status", "snapshot": no arguments.
struct NoArgs {};

// The record of the chosen command; which alternative goes with which word:
// NoArgs (health, status, snapshot), ServerCommand, ProfileCommand (profile, profiles),
// InstanceCommand (instance, instances), TabArgs (tab, tabs), NavArgs (nav, navigate),
// SnapArgs, ActionArgs (click, fill, select), AfterActionArgs (back, forward, reload),
// PdfArgs, ScreenshotArgs (screenshot, ss), DownloadArgs, UploadArgs, and RawBrowserArgs
// for "mouse" and the 46 raw commands.
using CommandArgs = std::variant<NoArgs, ServerCommand, ProfileCommand, InstanceCommand,
                                 TabArgs, NavArgs, SnapArgs, ActionArgs, AfterActionArgs,
                                 PdfArgs, ScreenshotArgs, DownloadArgs, UploadArgs,
                                 RawBrowserArgs>;

// The whole command line.
struct Cli {
  std::uint8_t verbose = 0;  // occurrences of -v/--verbose at the deepest level, at most 255
  CommandWord word = CommandWord::status;
  CommandArgs args;
};

}  // namespace vesk::cli
