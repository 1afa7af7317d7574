// "pdf" and "screenshot"/"ss": the browser writes the file; the command line only sends
// the path text and prints the browser's result unchanged.
#include "cli/browser_commands.hpp"

namespace vesk::cli {

Status run_pdf(const RequestSender& send, const PdfArgs& args) {
  auto output = path_text_or_null(args.output);
  if (!output) return fail(std::move(output.error()));
  return send_and_print(send, "page.pdf",
                        Json{{"output", std::move(*output)},
                             {"options", {{"landscape", args.landscape}}},
                             {"sourceCommand", "page.pdf"}});
}

Status run_screenshot(const RequestSender& send, const ScreenshotArgs& args) {
  auto output = path_text_or_null(args.output);
  if (!output) return fail(std::move(output.error()));
  return send_and_print(send, "page.screenshot",
                        Json{{"output", std::move(*output)},
                             {"options", {{"full", args.full}}},
                             {"sourceCommand", "page.screenshot"}});
}

}  // namespace vesk::cli
