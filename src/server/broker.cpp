#include "server/broker.hpp"

#include "server/browser_session.hpp"
#include "server/client_request.hpp"

namespace vesk {

Status handle_connection(Connection& connection, const std::filesystem::path& state_path,
                         Registry& registry, const BrokerOptions& options) {
  auto first = read_message(connection);
  if (!first) return fail(std::move(first).error());
  if (first->method == "hello") return serve_browser(connection, *first, state_path, registry);
  return relay_client_request(connection, *first, registry, options);
}

}  // namespace vesk
