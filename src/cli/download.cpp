// "download": the browser fetches the URL to disk; the command line reports the start
// and the outcome on standard error and prints the result.
#include "base/log.hpp"
#include "cli/browser_commands.hpp"
#include "render/render.hpp"

namespace vesk::cli {

namespace {

std::string destination_text(const DownloadArgs& args) {
  if (args.output) return display_path(*args.output);
  if (args.dir) return display_path(*args.dir);
  return "<browser default>";
}

Result<Json> download_params(const DownloadArgs& args) {
  auto output = path_text_or_null(args.output);
  if (!output) return fail(std::move(output.error()));
  auto dir = path_text_or_null(args.dir);
  if (!dir) return fail(std::move(dir.error()));
  return Json{{"url", args.url},
              {"target", args.url},
              {"output", std::move(*output)},
              {"dir", std::move(*dir)},
              {"tab", text_or_null(args.tab)},
              {"options", {{"overwrite", args.overwrite}, {"wait", args.wait}}},
              {"sourceCommand", "download"}};
}

std::string completion_message(const Json& result) {
  if (!result.is_object()) return "download: completed\n";
  const auto path = result.find("path");
  if (path == result.end() || !path->is_string()) return "download: completed\n";
  const auto bytes = result.find("bytes");
  const std::string size =
      bytes != result.end() && bytes->is_number() ? format_size(*bytes) : "unknown size";
  return "download: completed path=" + path->get<std::string>() + " bytes=" + size + "\n";
}

}  // namespace

Status run_download(const RequestSender& send, const DownloadArgs& args) {
  write_stderr("download: starting url=" + args.url + " destination=" + destination_text(args) + "\n");
  auto params = download_params(args);
  if (!params) return fail(std::move(params.error()));
  auto result = send("download", *params);
  if (!result) return fail(std::move(result.error()));
  write_stderr(completion_message(*result));
  return print_result(*result);
}

}  // namespace vesk::cli
