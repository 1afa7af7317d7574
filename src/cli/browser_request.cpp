#include "cli/browser_request.hpp"

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

}  // namespace vesk::cli
