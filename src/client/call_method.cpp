#include "client/call_method.hpp"

#include <array>
#include <string_view>
#include <thread>

#include "base/log.hpp"
#include "client/exchange_message.hpp"
#include "launch/coming_instances.hpp"
#include "launch/server_discovery.hpp"
#include "launch/stale_instances.hpp"
#include "render/render.hpp"

namespace vesk {

namespace {

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

// While no browser can take the request but a recorded one is on its way (starting, or
// coming back after a server restart), sends again until it answers or stops being
// expected. Returns the last answer.
Result<Message> wait_for_coming_instance(const AppPaths& paths, const std::string& endpoint,
                                         const std::string& method, const Json& params, Message answer) {
  std::string waiting_for;
  while (asks_for_restart(answer)) {
    auto state = load_state(paths.state_path);
    if (!state) return fail(state.error());
    auto coming = first_coming_instance(*state, std::chrono::system_clock::now());
    if (!coming) break;
    if (coming->id != waiting_for) {
      log_info("waiting for VeskBrowser instance " + coming->id + " to connect (" + coming->why + ")");
      waiting_for = coming->id;
    }
    std::this_thread::sleep_for(kRetryPause);
    auto next = exchange_message(endpoint, method, params);
    if (!next) return next;
    answer = std::move(*next);
  }
  return answer;
}

// The first try goes straight to the recorded server. Only when that does not answer is
// the state looked at again, a stale record cleared and a server started.
Result<Message> first_exchange(const AppPaths& paths, std::string& endpoint, const std::string& method,
                               const Json& params) {
  if (auto recorded = connect_recorded_server(paths.state_path)) {
    endpoint = std::move(recorded->endpoint);
    log_info("using running VeskApp server at " + endpoint);
    return exchange_message_on(std::move(recorded->socket), endpoint, method, params);
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
  if (!asks_for_restart(*answer)) return finish(std::move(*answer));

  // A browser on its way is waited for, never replaced.
  answer = wait_for_coming_instance(paths, endpoint, method, params, std::move(*answer));
  if (!answer) return fail(answer.error());
  if (!asks_for_restart(*answer)) return finish(std::move(*answer));

  auto replaced = restart_stale_instances(paths);
  if (!replaced) return fail(replaced.error());
  if (*replaced) {
    write_stderr("vesk: " + replacement_notice(**replaced) + "\n");
    log_info("retrying method " + method + " after VeskBrowser restart");
  }
  // The new instance, or one another command started meanwhile, is on its way now.
  answer = wait_for_coming_instance(paths, endpoint, method, params, std::move(*answer));
  if (!answer) return fail(answer.error());
  return finish(std::move(*answer));
}

}  // namespace vesk
