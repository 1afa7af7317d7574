// "pdf" and "screenshot"/"ss": the browser writes the file; the command line only sends
// the path text and prints the browser's result unchanged.
#include "cli/browser_commands.hpp"

namespace vesk::cli {

Status run_pdf(const RequestSender& send, const PdfArgs& args) {
  auto request = pdf_request(args);
  if (!request) return fail(std::move(request.error()));
  return send_and_print(send, *request);
}

Status run_screenshot(const RequestSender& send, const ScreenshotArgs& args) {
  auto request = screenshot_request(args);
  if (!request) return fail(std::move(request.error()));
  return send_and_print(send, *request);
}

}  // namespace vesk::cli
