#include "browser/link/broker_link.hpp"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/log.hpp"
#include "protocol/framing.hpp"
#include "protocol/message.hpp"
#include "store/state.hpp"

namespace vesk::browser {

namespace {

using namespace std::chrono_literals;

enum class ServeEnd { ConnectionLost, ChromiumGone, Stopped };

struct HelloOutcome {
  bool shared = false;
};

struct HelloFailure {
  bool rejected = false;  // the broker said no; trying again cannot help
  Error error;
};

// Points `options` at the server the state file records now, if it records one that
// differs from the one we know. A missing or unreadable file changes nothing.
void follow_recorded_server(BrokerLinkOptions& options) {
  if (options.state_path.empty()) return;
  auto state = load_state(options.state_path);
  if (!state || !state->server) return;
  if (state->server->host == options.host && state->server->port == options.port) return;
  log_info("the state file records the server at " + state->server->host + ":" +
           std::to_string(state->server->port) + "; reconnecting there");
  options.host = state->server->host;
  options.port = state->server->port;
}

Result<Connection> connect_to_broker(const BrokerLinkOptions& options) {
  const std::string endpoint = options.host.find(':') != std::string::npos
                                   ? "[" + options.host + "]:" + std::to_string(options.port)
                                   : options.host + ":" + std::to_string(options.port);
  auto addresses = resolve_socket_addresses(endpoint);
  if (!addresses) return fail(addresses.error().wrap("failed to resolve " + endpoint));
  Error last("no address to connect to");
  for (const auto& address : *addresses) {
    auto fd = connect_tcp(address, 2s);
    if (fd) return Connection(std::move(*fd));
    last = fd.error().wrap("failed to connect to " + address.text());
  }
  return fail(std::move(last));
}

std::expected<HelloOutcome, HelloFailure> say_hello(Connection& connection,
                                                    const BrokerLinkOptions& options) {
  if (auto timeouts = set_socket_timeouts(connection.socket(), 10s, 10s); !timeouts) {
    return std::unexpected(HelloFailure{false, timeouts.error()});
  }
  Json params = {{"protocolVersion", PROTOCOL_VERSION},
                 {"instanceId", options.instance_id},
                 {"token", options.token}};
  Message hello = request_message("hello", "hello", std::move(params));
  hello.kind = MessageKind::Hello;
  if (auto written = write_message(connection, hello); !written) {
    return std::unexpected(HelloFailure{false, written.error().wrap("failed to send hello")});
  }
  auto answer = read_message(connection);
  if (!answer) {
    return std::unexpected(HelloFailure{false, answer.error().wrap("no answer to hello")});
  }
  if (answer->error) {
    return std::unexpected(HelloFailure{
        true, Error("the server refused our hello: " + answer->error->code + ": " + answer->error->message)});
  }
  const Json result = answer->result.value_or(Json::object());
  if (!result.is_object() || result.value("accepted", false) != true) {
    return std::unexpected(HelloFailure{true, Error("the server did not accept our hello: " + result.dump())});
  }
  // Requests are read without a time-out: an idle browser waits as long as it takes.
  if (auto timeouts = set_socket_timeouts(connection.socket(), 0ms, 30s); !timeouts) {
    return std::unexpected(HelloFailure{false, timeouts.error()});
  }
  return HelloOutcome{result.value("shared", false) == true};
}

Message answer_for(const std::string& id, const MethodResult& result) {
  if (result) return response_message(id, *result);
  Message message = error_message(id, result.error().code, result.error().message);
  if (!result.error().details.is_null()) message.error->details = result.error().details;
  return message;
}

// Watches, while a connection is served, for the reasons to stop serving it: Chromium
// gone (or no longer answering while idle) or a stop request. It then shuts the socket
// down so that the blocked read returns.
class Watchdog {
 public:
  Watchdog(RunningBrowser& browser, SocketHandle socket, const std::atomic<bool>& stop,
           std::chrono::milliseconds health_interval)
      : browser_(browser), socket_(socket), stop_(stop), health_interval_(health_interval) {
    thread_ = std::thread([this] { run(); });
  }
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  void set_idle(bool idle) { idle_ = idle; }

 private:
  void run() {
    auto next_check = Clock::now() + health_interval_;
    std::unique_lock lock(mutex_);
    while (!finished_) {
      changed_.wait_for(lock, 200ms);
      if (finished_) return;
      if (stop_ || browser_.closed()) break;
      if (idle_ && Clock::now() >= next_check) {
        lock.unlock();
        bool alive = browser_.responsive(10s);
        lock.lock();
        next_check = Clock::now() + health_interval_;
        if (!alive && idle_) {
          log_info("Chromium stopped answering; shutting it down");
          browser_.kill();
          break;
        }
      }
    }
    shutdown_socket(socket_);
  }

  RunningBrowser& browser_;
  SocketHandle socket_;
  const std::atomic<bool>& stop_;
  std::chrono::milliseconds health_interval_;
  std::atomic<bool> idle_{true};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool finished_ = false;  // guarded by mutex_
  std::thread thread_;
};

ServeEnd serve_requests(Connection& connection, RunningBrowser& browser, const std::atomic<bool>& stop,
                        const BrokerLinkOptions& options) {
  Watchdog watchdog(browser, connection.socket(), stop, options.health_interval);
  while (true) {
    watchdog.set_idle(true);
    auto request = read_message(connection);
    watchdog.set_idle(false);
    if (stop) return ServeEnd::Stopped;
    if (browser.closed()) return ServeEnd::ChromiumGone;
    if (!request) {
      log_info("lost the server connection: " + request.error().text());
      return ServeEnd::ConnectionLost;
    }
    if (request->kind == MessageKind::Event || request->kind == MessageKind::Response ||
        !request->method) {
      continue;  // nothing to answer
    }
    const auto started = Clock::now();
    MethodResult result = browser.serve(*request->method, request->params);
    if (!result && result.error().code == "timeout" && !browser.responsive(5s)) {
      result = method_error("browserError", "Chromium stopped answering (" + result.error().message +
                                                "); the instance will be restarted");
      browser.kill();
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    log_info("served " + *request->method + " in " + std::to_string(elapsed) + " ms" +
             (result ? std::string() : ": " + result.error().code + ": " + result.error().message));
    if (auto written = write_message(connection, answer_for(request->id, result)); !written) {
      log_info("failed to answer " + *request->method + ": " + written.error().text());
      return ServeEnd::ConnectionLost;
    }
    if (browser.closed()) return ServeEnd::ChromiumGone;
  }
}

void pause_for(std::chrono::milliseconds span, const std::atomic<bool>& stop) {
  const auto until = Clock::now() + span;
  while (!stop && Clock::now() < until) std::this_thread::sleep_for(std::min(span, 50ms));
}

}  // namespace

std::string_view link_end_text(LinkEnd end) {
  switch (end) {
    case LinkEnd::ChromiumGone:
      return "Chromium is gone";
    case LinkEnd::BrokerGone:
      return "the server could not be reached";
    case LinkEnd::Rejected:
      return "the server refused this browser";
    case LinkEnd::Stopped:
      return "asked to stop";
  }
  return "unknown";
}

LinkEnd run_broker_link(const BrokerLinkOptions& given, RunningBrowser& browser,
                        const std::atomic<bool>& stop) {
  BrokerLinkOptions options = given;  // the server may move while we run
  auto unreachable_since = Clock::now();
  // When the broker first took us for a shared tab; time_point::max() while it has not.
  Clock::time_point shared_since = Clock::time_point::max();
  std::string last_failure;
  while (true) {
    if (stop) return LinkEnd::Stopped;
    if (browser.closed()) return LinkEnd::ChromiumGone;
    if (Clock::now() - unreachable_since > options.reconnect_window) {
      log_info("giving up on the server: " + last_failure);
      return LinkEnd::BrokerGone;
    }
    auto connection = connect_to_broker(options);
    if (!connection) {
      last_failure = connection.error().text();
      pause_for(250ms, stop);
      follow_recorded_server(options);
      continue;
    }
    auto hello = say_hello(*connection, options);
    if (!hello) {
      log_info(hello.error().error.text());
      if (hello.error().rejected) return LinkEnd::Rejected;
      last_failure = hello.error().error.text();
      pause_for(250ms, stop);
      continue;
    }
    if (hello->shared && !options.instance_id.empty()) {
      if (shared_since == Clock::time_point::max()) shared_since = Clock::now();
      if (Clock::now() - shared_since < options.shared_retry_window) {
        // The launcher has not saved our record yet; come back as our instance.
        log_info("accepted as a shared tab; reconnecting to register as instance " + options.instance_id);
        connection->close();
        pause_for(options.shared_retry_pause, stop);
        unreachable_since = Clock::now();
        continue;
      }
      log_info("still accepted as a shared tab; serving as one");
    }
    log_info("connected to the server at " + options.host + ":" + std::to_string(options.port) +
             (hello->shared ? " as a shared tab" : " as instance " + options.instance_id));
    shared_since = Clock::time_point::max();
    ServeEnd end = serve_requests(*connection, browser, stop, options);
    if (end == ServeEnd::Stopped) return LinkEnd::Stopped;
    if (end == ServeEnd::ChromiumGone) return LinkEnd::ChromiumGone;
    unreachable_since = Clock::now();
    last_failure = "the connection was closed";
  }
}

}  // namespace vesk::browser
