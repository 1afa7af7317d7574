// Picks the handler for a browser command word and its record.
#include "cli/browser_commands.hpp"

namespace vesk::cli {

namespace {

template <class Record>
const Record* record_of(const CommandArgs& args) {
  return std::get_if<Record>(&args);
}

}  // namespace

std::optional<Status> run_browser_command(const RequestSender& send, CommandWord word,
                                          const CommandArgs& args) {
  using enum CommandWord;
  switch (word) {
    case server: case health: case status: case instance: case instances:
      return std::nullopt;
    case snapshot:
      return run_snapshot(send);
    default:
      break;
  }
  if (const auto* raw = record_of<RawBrowserArgs>(args)) {
    if (word == mouse) return run_mouse(send, *raw);
    if (raw_command_method(word)) return run_raw_command(send, word, *raw);
    return std::nullopt;
  }
  if (const auto* action = record_of<ActionArgs>(args)) {
    if (word == click) return run_click(send, *action);
    if (word == fill) return run_element_action(send, "element.fill", *action);
    if (word == select) return run_element_action(send, "element.select", *action);
    return std::nullopt;
  }
  if (const auto* after = record_of<AfterActionArgs>(args)) return run_history_command(send, word, *after);
  if (const auto* nav = record_of<NavArgs>(args)) return run_navigation(send, *nav);
  if (const auto* snap_args = record_of<SnapArgs>(args)) return run_snap(send, *snap_args);
  if (const auto* tab_args = record_of<TabArgs>(args)) return run_tab_command(send, *tab_args);
  if (const auto* profile_command = record_of<ProfileCommand>(args)) {
    return run_profile_command(send, *profile_command);
  }
  if (const auto* pdf_args = record_of<PdfArgs>(args)) return run_pdf(send, *pdf_args);
  if (const auto* shot = record_of<ScreenshotArgs>(args)) return run_screenshot(send, *shot);
  if (const auto* download_args = record_of<DownloadArgs>(args)) return run_download(send, *download_args);
  if (const auto* upload_args = record_of<UploadArgs>(args)) return run_upload(send, *upload_args);
  return std::nullopt;
}

}  // namespace vesk::cli
