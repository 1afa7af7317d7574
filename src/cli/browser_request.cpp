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

std::string absolute_here(const std::string& path) {
  if (path.empty()) return path;
  std::error_code error;
  const auto absolute = std::filesystem::absolute(path, error);
  // Without a working directory the path goes as given; the browser then says it needs
  // an absolute one.
  return error ? path : absolute.string();
}

void resolve_paths_here(BrowserRequest& request, std::initializer_list<const char*> members) {
  for (const char* member : members) {
    auto found = request.params.find(member);
    if (found == request.params.end() || !found->is_string()) continue;
    *found = absolute_here(found->get<std::string>());
  }
}

}  // namespace vesk::cli
