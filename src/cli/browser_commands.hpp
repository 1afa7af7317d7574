#pragma once
// The handlers of the browser commands. Each turns its argument record into requests
// through `send`, in order, and prints what comes back; the first failing request ends
// the command with that error, and nothing of the handler's own failure is printed.

#include <optional>
#include <string>

#include "base/error.hpp"
#include "cli/browser_request.hpp"
#include "language/command.hpp"

namespace vesk::cli {

// Raw commands: the method each of the 46 words sends (raw_command_method).
Status run_raw_command(const RequestSender& send, CommandWord word, const RawBrowserArgs& args);
// {"args", "tab", "sourceCommand": method} sent under `method`, the result printed.
Status run_raw_method(const RequestSender& send, const std::string& method, const RawBrowserArgs& args);

// "mouse" and the 46 raw commands, by word.
Status run_raw_browser_command(const RequestSender& send, CommandWord word, const RawBrowserArgs& args);
// "click", "fill", "select", by word.
Status run_action_command(const RequestSender& send, CommandWord word, const ActionArgs& args);

// "click": a mouse click at coordinates, or the element action "element.click".
Status run_click(const RequestSender& send, const ActionArgs& args);
// "mouse": "mouse.click" for the words click X Y, the raw method "mouse" otherwise.
Status run_mouse(const RequestSender& send, const RawBrowserArgs& args);
// "fill", "select" and the element form of "click", with their optional snapshots.
Status run_element_action(const RequestSender& send, const std::string& method, const ActionArgs& args);

// "back", "forward", "reload".
Status run_history_command(const RequestSender& send, CommandWord word, const AfterActionArgs& args);
// "nav", "navigate" and their follow-up requests.
Status run_navigation(const RequestSender& send, const NavArgs& args);
// "snap" (a listing with -i) and "snapshot" (always exactly {}).
Status run_snap(const RequestSender& send, const SnapArgs& args);
Status run_snapshot(const RequestSender& send);
// "tab", "tabs".
Status run_tab_command(const RequestSender& send, const TabArgs& args);
// "profile", "profiles".
Status run_profile_command(const RequestSender& send, const ProfileCommand& command);

// "pdf", "screenshot"/"ss", "download", "upload".
Status run_pdf(const RequestSender& send, const PdfArgs& args);
Status run_screenshot(const RequestSender& send, const ScreenshotArgs& args);
Status run_download(const RequestSender& send, const DownloadArgs& args);
Status run_upload(const RequestSender& send, const UploadArgs& args);

}  // namespace vesk::cli
