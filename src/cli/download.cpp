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
  auto request = download_request(args);
  if (!request) return fail(std::move(request.error()));
  auto result = send(request->method, request->params);
  if (!result) return fail(std::move(result.error()));
  write_stderr(completion_message(*result));
  return print_result(*result);
}

}  // namespace vesk::cli
