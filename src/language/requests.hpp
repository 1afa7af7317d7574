#pragma once
// The request each browser command sends: its method name and params, built from the
// command's argument record. Pure: nothing here sends, prints or reads files, so both
// the command line and veskbrowser (which serves a batch of command lines itself) build
// their requests with these same functions.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "base/json.hpp"
#include "language/command.hpp"

namespace vesk::cli {

// Sends one request (method, params) and returns the result value or the error.
using RequestSender = std::function<Result<Json>(const std::string& method, const Json& params)>;

struct BrowserRequest {
  std::string method;
  Json params;
  bool operator==(const BrowserRequest&) const = default;
};

// ---- member values ----

// An optional string argument as a params member: the text, or null when not given.
Json text_or_null(const std::optional<std::string>& value);
// A path argument as params text. Paths are sent exactly as given, but only when they are
// valid UTF-8: otherwise "cannot send path {path shown}: path contains invalid UTF-8
// characters".
Result<std::string> path_text(const std::string& path);
Result<Json> path_text_or_null(const std::optional<std::string>& path);
// A path for messages: invalid UTF-8 sequences become U+FFFD, so it never fails.
std::string display_path(const std::string& path);

// ---- one request per command ----

// Raw commands: the method each of the 46 words sends; nullopt for any other word.
std::optional<std::string> raw_command_method(CommandWord word);
// {"args", "tab", "sourceCommand": method}.
BrowserRequest raw_request(const std::string& method, const RawBrowserArgs& args);
// "mouse": "mouse.click" for the words click X Y, the raw method "mouse" otherwise.
BrowserRequest mouse_request(const RawBrowserArgs& args);

// "element.click", "element.fill", "element.select" for click, fill, select.
std::optional<std::string> action_method(CommandWord word);
// "click" at coordinates (--x/--y, or two number words): the "mouse.click" it sends.
std::optional<BrowserRequest> coordinate_click_request(const ActionArgs& args);
// "fill", "select" and the element form of "click".
BrowserRequest element_action_request(const std::string& method, const ActionArgs& args);
// Any of the three: the coordinate click when "click" names coordinates.
BrowserRequest action_request(CommandWord word, const ActionArgs& args);

// "nav.back", "nav.forward", "nav.reload".
std::optional<std::string> history_method(CommandWord word);
BrowserRequest history_request(const std::string& method, const AfterActionArgs& args);

// "tab.navigate", and the requests the command line sends after it when asked to.
BrowserRequest navigate_request(const NavArgs& args);
struct NavigationFollowUp {
  std::string log_message;  // "navigation complete; requesting snapshot"
  BrowserRequest request;   // empty params: the browser applies its defaults
};
std::vector<NavigationFollowUp> navigation_follow_ups(const NavArgs& args);

// "snap" and "snapshot" (always exactly {}).
BrowserRequest snap_request(const SnapArgs& args);
BrowserRequest snapshot_request();
// The snapshot taken around an action: {"tab", "options": {"diff"}, "sourceCommand"}.
Json snapshot_params(const std::optional<std::string>& tab, bool diff, const std::string& source);

BrowserRequest tab_request(const TabArgs& args);
BrowserRequest profile_request(const ProfileCommand& command);

// "pdf", "screenshot"/"ss", "download": fail only on a path that is not valid UTF-8.
Result<BrowserRequest> pdf_request(const PdfArgs& args);
Result<BrowserRequest> screenshot_request(const ScreenshotArgs& args);
Result<BrowserRequest> download_request(const DownloadArgs& args);

// ---- a whole command line ----

// What a command asks of the browser when it is one request: that request, the requests
// that follow it, and whether its result takes a snapshot of the page afterwards.
enum class AfterSnapshot { none, snapshot, diff };
struct CommandRequests {
  BrowserRequest request;
  std::vector<BrowserRequest> follow_ups;  // nav --snap/--pdf/--screenshot/--capture
  AfterSnapshot after = AfterSnapshot::none;
  std::optional<std::string> tab;          // the tab the command names, for its snapshots
};

// The requests of a parsed command line, or why it is not a browser request on its own:
// server, instance, health and status act locally; upload reads local files and download
// reports its progress on the command line.
Result<CommandRequests> command_requests(const Cli& cli);

}  // namespace vesk::cli
