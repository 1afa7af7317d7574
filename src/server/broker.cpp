#include "server/broker.hpp"

#include "server/browser_session.hpp"
#include "server/client_request.hpp"

namespace vesk {

Status handle_connection(Connection& connection, const std::filesystem::path& state_path,
                         Registry& registry, const BrokerOptions& options) {
  connection.set_max_message_bytes(options.max_message_bytes);
  connection.set_read_deadline(std::chrono::steady_clock::now() + options.first_message_wait);
  // The first message is read only as far as routing needs: a client's request is passed
  // on as it came.
  auto first = read_relayed_message(connection);
  if (!first) return fail(std::move(first).error());
  // A browser then waits for requests as long as it stays connected.
  connection.set_read_deadline(std::nullopt);
  if (first->header.method == "hello") {
    auto hello = decode_relayed_message(*first);
    if (!hello) return fail(std::move(hello).error());
    return serve_browser(connection, *hello, state_path, registry);
  }
  return relay_client_request(connection, std::move(*first), registry, options);
}

}  // namespace vesk
