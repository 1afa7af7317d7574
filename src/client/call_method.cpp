#include "client/call_method.hpp"

#include <array>
#include <string_view>
#include <thread>

#include "base/log.hpp"
#include "client/exchange_message.hpp"
#include "launch/server_discovery.hpp"
#include "launch/stale_instances.hpp"
#include "render/render.hpp"

namespace vesk {

namespace {

constexpr std::chrono::seconds kRetryWindow{5};
constexpr std::chrono::milliseconds kRetryPause{200};

// The broker's (and a browser's) ways of saying that no browser could take the request.
bool asks_for_restart(const Message& answer) {
  constexpr std::array<std::string_view, 3> kRestartCodes = {"noBrowser", "browserError", "browserDisconnected"};
  return answer.error && std::ranges::find(kRestartCodes, answer.error->code) != kRestartCodes.end();
}

Result<Json> finish(Message answer) {
  if (answer.error) return fail(answer.error->code + ": " + answer.error->message);
  Json value = answer.result ? std::move(*answer.result) : Json::object();
  session_hint(value);
  return value;
}

// After the stale instances were replaced, the new browser needs a moment to connect:
// send again until it answers or the window closes.
Result<Message> retry_after_restart(const std::string& endpoint, const std::string& method, const Json& params) {
  log_info("retrying method " + method + " after VeskBrowser restart");
  const auto deadline = std::chrono::steady_clock::now() + kRetryWindow;
  while (true) {
    auto answer = exchange_message(endpoint, method, params);
    if (!answer) return answer;
    if (!asks_for_restart(*answer) || std::chrono::steady_clock::now() >= deadline) return answer;
    std::this_thread::sleep_for(kRetryPause);
  }
}

// The first try goes straight to the recorded server. Only when that does not answer is
// the state looked at again, a stale record cleared and a server started.
Result<Message> first_exchange(const AppPaths& paths, std::string& endpoint, const std::string& method,
                               const Json& params) {
  if (auto recorded = connect_recorded_server(paths.state_path)) {
    endpoint = std::move(recorded->endpoint);
    log_info("using running VeskApp server at " + endpoint);
    return exchange_message_on(std::move(recorded->fd), endpoint, method, params);
  }
  auto ensured = ensure_server(paths);
  if (!ensured) return fail(ensured.error());
  endpoint = std::move(*ensured);
  return exchange_message(endpoint, method, params);
}

}  // namespace

Result<Json> call_method(const AppPaths& paths, const std::string& method, const Json& params) {
  log_info("forwarding method " + method + " through VeskApp server");
  std::string endpoint;
  auto answer = first_exchange(paths, endpoint, method, params);
  if (!answer) return fail(answer.error());
  if (asks_for_restart(*answer)) {
    auto restarted = restart_stale_instances(paths);
    if (!restarted) return fail(restarted.error());
    if (*restarted) {
      answer = retry_after_restart(endpoint, method, params);
      if (!answer) return fail(answer.error());
    }
  }
  return finish(std::move(*answer));
}

}  // namespace vesk
