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
  bool operator==(const ServerArgs&) const = default;
};

enum class ServerSubcommand : std::uint8_t { stop, restart };

struct ServerCommand {
  std::optional<ServerSubcommand> subcommand{};  // nullopt: run the server in this process
  ServerArgs args;                             // ignored by "stop"
  bool operator==(const ServerCommand&) const = default;
};

struct ProfileList {
  bool operator==(const ProfileList&) const = default;
};
struct ProfileCreate {
  std::string name{};
  bool operator==(const ProfileCreate&) const = default;
};
struct ProfileOpen {
  std::string id{};
  bool operator==(const ProfileOpen&) const = default;
};
struct ProfileDelete {
  std::string id{};
  bool operator==(const ProfileDelete&) const = default;
};
struct ProfileCommand {
  std::variant<ProfileList, ProfileCreate, ProfileOpen, ProfileDelete> subcommand{};
  bool operator==(const ProfileCommand&) const = default;
};

struct InstanceList {
  bool operator==(const InstanceList&) const = default;
};
struct StartInstanceArgs {
  std::string profile = "default";
  bool headless = false;
  bool headed = false;  // never both: the parser rejects --headless with --headed
  std::string browser_binary = "veskbrowser";  // path
  std::optional<std::string> server_host{};
  std::optional<std::uint16_t> server_port{};
  bool operator==(const StartInstanceArgs&) const = default;
};
struct InstanceStop {
  std::string id{};
  bool operator==(const InstanceStop&) const = default;
};
struct InstanceCommand {
  std::variant<InstanceList, StartInstanceArgs, InstanceStop> subcommand{};
  bool operator==(const InstanceCommand&) const = default;
};

// ---- browser commands ------------------------------------------------------------------

// "mouse" and the raw commands: words passed on to the browser unchanged.
struct RawBrowserArgs {
  std::optional<std::string> tab{};
  std::vector<std::string> args{};
  bool operator==(const RawBrowserArgs&) const = default;
};

// "click", "fill", "select".
struct ActionArgs {
  std::optional<std::string> selector{};
  std::vector<std::string> args{};
  std::optional<std::string> tab{};
  bool snap = false;
  bool snap_diff = false;
  bool text = false;
  bool wait_nav = false;
  bool dismiss_banners = false;
  std::optional<std::string> mode{};
  bool humanize = false;
  std::optional<double> x{};
  std::optional<double> y{};
  std::optional<std::string> dialog_action{};
  std::optional<std::string> dialog_text{};
  bool operator==(const ActionArgs&) const = default;
};

// "back", "forward", "reload".
struct AfterActionArgs {
  bool snap = false;
  bool snap_diff = false;
  bool text = false;
  bool dismiss_banners = false;
  bool operator==(const AfterActionArgs&) const = default;
};

// "nav", "navigate".
struct NavArgs {
  std::string url{};
  bool snap = false;
  bool snap_diff = false;
  bool text = false;
  bool new_tab = false;
  std::optional<std::string> tab{};
  bool block_images = false;
  bool block_ads = false;
  bool dismiss_banners = false;
  bool print_tab_id = false;
  bool pdf = false;
  bool screenshot = false;
  bool capture = false;
  bool operator==(const NavArgs&) const = default;
};

// "snap".
struct SnapArgs {
  std::optional<std::string> selector{};
  std::optional<std::string> tab{};
  bool full = false;
  bool diff = false;
  bool interactive = false;
  bool compact = false;
  std::optional<std::uint32_t> max_tokens{};
  bool operator==(const SnapArgs&) const = default;
};

// "tab", "tabs".
struct TabArgs {
  std::optional<std::string> command_or_id{};
  std::optional<std::string> tab_id{};
  bool operator==(const TabArgs&) const = default;
};

// "pdf".
struct PdfArgs {
  std::optional<std::string> output{};  // path
  bool landscape = false;
  bool operator==(const PdfArgs&) const = default;
};

// "screenshot", "ss".
struct ScreenshotArgs {
  std::optional<std::string> output{};  // path
  bool full = false;
  bool operator==(const ScreenshotArgs&) const = default;
};

// "download".
struct DownloadArgs {
  std::string url{};
  std::optional<std::string> output{};  // path
  std::optional<std::string> dir{};     // path
  std::optional<std::string> tab{};
  bool overwrite = false;
  bool wait = false;
  bool operator==(const DownloadArgs&) const = default;
};

// "upload".
struct UploadArgs {
  std::optional<std::string> selector{};
  std::vector<std::string> files{};        // paths
  std::vector<std::string> base64{};       // in command-line order
  std::vector<std::string> base64_file{};  // paths, in command-line order
  std::optional<std::string> tab{};
  bool snap_diff = false;
  bool operator==(const UploadArgs&) const = default;
};

// "health", "status", "snapshot": no arguments.
struct NoArgs {
  bool operator==(const NoArgs&) const = default;
};

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
  CommandArgs args{};
  bool operator==(const Cli&) const = default;
};

}  // namespace vesk::cli
