#include "server/broker.hpp"

#include "server/browser_session.hpp"
#include "server/client_request.hpp"

namespace vesk {

Status handle_connection(Connection& connection, const std::filesystem::path& state_path,
                         Registry& registry, const BrokerOptions& options) {
  connection.set_max_message_bytes(options.max_message_bytes);
  connection.set_read_deadline(std::chrono::steady_clock::now() + options.first_message_wait);
  auto first = read_message(connection);
  if (!first) return fail(std::move(first).error());
  // A browser then waits for requests as long as it stays connected.
  connection.set_read_deadline(std::nullopt);
  if (first->method == "hello") return serve_browser(connection, *first, state_path, registry);
  return relay_client_request(connection, *first, registry, options);
}

}  // namespace vesk
