#include "client/exchange_message.hpp"

#include <thread>

#include "base/log.hpp"
#include "platform/socket.hpp"
#include "protocol/answer_wait.hpp"
#include "protocol/framing.hpp"

namespace vesk {

namespace {

// A server that is still starting is given a few seconds to begin listening.
Result<UniqueSocket> connect_with_retry(const std::string& endpoint, const SocketAddress& address) {
  const auto deadline = std::chrono::steady_clock::now() + kConnectRetryWindow;
  while (true) {
    auto connected = connect_tcp(address, kConnectAttemptTimeout);
    if (connected) return std::move(*connected);
    if (std::chrono::steady_clock::now() >= deadline) {
      return fail("failed to connect " + endpoint + " after retrying for 5s: " + connected.error().text());
    }
    std::this_thread::sleep_for(kConnectRetryPause);
  }
}

}  // namespace

Result<Message> exchange_message(const std::string& endpoint, const std::string& method, const Json& params) {
  log_info("connecting to VeskApp server at " + endpoint);
  auto address = parse_socket_address(endpoint);
  if (!address) return fail(address.error().wrap("invalid VeskApp server endpoint " + endpoint));
  auto fd = connect_with_retry(endpoint, *address);
  if (!fd) return fail(fd.error());
  return exchange_message_on(std::move(*fd), endpoint, method, params);
}

Result<Message> exchange_message_on(UniqueSocket fd, const std::string& endpoint, const std::string& method,
                                    const Json& params) {
  // The broker sends nothing until its answer, and it may wait for a browser longer than
  // the usual 30 s (a download that waits for its file).
  const auto answer_wait = client_answer_wait(method, params);
  if (auto set = set_socket_timeouts(fd.get(), answer_wait, kClientIoTimeout); !set) return fail(set.error());

  Connection connection(std::move(fd));
  if (auto written = write_request(connection, new_request_id(), method, params);
      !written) {
    return fail(written.error().wrap("failed to send " + method + " to VeskApp server at " + endpoint));
  }
  auto answer = read_message(connection);
  connection.close();
  // The read error alone ("timed out", "failed to fill whole buffer") would not say what
  // was being waited for.
  if (!answer) return fail(answer.error().wrap("no answer to " + method + " from VeskApp server at " + endpoint));
  return answer;
}

}  // namespace vesk
