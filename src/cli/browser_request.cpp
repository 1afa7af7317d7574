#include "cli/browser_request.hpp"

#include <filesystem>
#include <system_error>

#include "render/render.hpp"

namespace vesk::cli {

Status send_and_print(const RequestSender& send, const std::string& method, const Json& params) {
  auto result = send(method, params);
  if (!result) return fail(std::move(result.error()));
  return print_result(*result);
}

Status send_and_print(const RequestSender& send, const BrowserRequest& request) {
  return send_and_print(send, request.method, request.params);
}

void resolve_paths_here(BrowserRequest& request, std::initializer_list<const char*> members) {
  for (const char* member : members) {
    auto found = request.params.find(member);
    if (found == request.params.end() || !found->is_string() || found->get<std::string>().empty()) continue;
    std::error_code error;
    const auto absolute = std::filesystem::absolute(found->get<std::string>(), error);
    // Without a working directory the path goes as given; the browser then reports
    // where it wrote the file.
    if (!error) *found = absolute.string();
  }
}

}  // namespace vesk::cli
