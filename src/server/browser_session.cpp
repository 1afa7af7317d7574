#include "server/browser_session.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "base/log.hpp"
#include "server/message_text.hpp"
#include "store/state.hpp"

namespace vesk {

namespace {

struct HelloParams {
  std::uint64_t protocol_version = 0;  // 0 when absent or not a non-negative integer
  std::string instance_id;
  std::string token;
};

HelloParams read_hello_params(const Json& params) {
  HelloParams hello;
  if (!params.is_object()) return hello;
  if (auto v = params.find("protocolVersion"); v != params.end()) {
    if (v->is_number_unsigned()) {
      hello.protocol_version = v->get<std::uint64_t>();
    } else if (v->is_number_integer() && v->get<std::int64_t>() >= 0) {
      hello.protocol_version = static_cast<std::uint64_t>(v->get<std::int64_t>());
    }
  }
  if (auto v = params.find("instanceId"); v != params.end() && v->is_string()) {
    hello.instance_id = v->get<std::string>();
  }
  if (auto v = params.find("token"); v != params.end() && v->is_string()) {
    hello.token = v->get<std::string>();
  }
  return hello;
}

Json accepted_result(const std::string& instance_id, bool shared) {
  Json result{{"accepted", true}, {"instanceId", instance_id}, {"protocolVersion", PROTOCOL_VERSION}};
  if (shared) result["shared"] = true;
  return result;
}

// Checks the hello against the state file and builds the answer. A known instance with
// the right token is marked running. Errors (state unreadable or unsaved) leave the
// browser without an answer.
Result<Message> answer_hello(const Message& hello, const std::filesystem::path& state_path) {
  HelloParams params = read_hello_params(hello.params);
  if (params.protocol_version != PROTOCOL_VERSION) {
    log_info("rejected Chromium hello for " + params.instance_id + ": protocol version " +
             std::to_string(params.protocol_version));
    return error_message(hello.id, "protocolVersionMismatch",
                         "expected protocol version " + std::to_string(PROTOCOL_VERSION) +
                             ", got " + std::to_string(params.protocol_version));
  }

  enum class Known { No, BadToken, Yes } known = Known::No;
  auto checked = update_state(state_path, [&](State& state) -> Result<bool> {
    auto found = std::ranges::find(state.instances, params.instance_id, &InstanceRecord::id);
    if (found == state.instances.end()) return false;
    if (found->token != params.token) {
      known = Known::BadToken;
      return false;
    }
    known = Known::Yes;
    found->status = InstanceStatus::Running;
    return true;
  });
  if (!checked) return fail(std::move(checked).error());
  if (known == Known::BadToken) {
    log_info("rejected Chromium hello for " + params.instance_id + ": invalid token");
    return error_message(hello.id, "invalidToken", "invalid instance token");
  }
  if (known == Known::Yes) {
    log_info("Chromium instance " + params.instance_id + " registered with VeskApp");
    return response_message(hello.id, accepted_result(params.instance_id, false));
  }
  log_info("accepted Chromium hello for unknown instance " + params.instance_id + " as shared tab");
  return response_message(hello.id, accepted_result(params.instance_id, true));
}

// Writes one request to the browser and reads until its answer, skipping events.
// A failure of the connection becomes the failure text for the waiting client.
JobReply forward_request(Connection& connection, const RelayedMessage& request) {
  log_info("forwarding " + method_or_unknown(request) + " to Chromium");
  if (auto written = write_relayed_message(connection, request); !written) return written.error().text();
  for (;;) {
    auto received = read_relayed_message(connection);
    if (!received) return received.error().text();
    if (received->header.kind != MessageKind::Event) return std::move(*received);
    log_info("received Chromium event " + method_or_unknown(*received) + " while waiting for response");
  }
}

// Serves queued jobs in order until the entry is retired. The socket is read only while a
// job is in progress, so events sent between jobs wait in the connection.
void serve_jobs(Connection& connection, BrowserLink& link) {
  while (auto job = link.jobs().pop()) {
    JobReply reply = forward_request(connection, *job->request);
    if (!job->reply.send(std::move(reply))) {
      log_info("CLI requester dropped before Chromium response was delivered");
    }
  }
}

}  // namespace

Status serve_browser(Connection& connection, const Message& hello,
                     const std::filesystem::path& state_path, Registry& registry) {
  log_info("received Chromium hello frame");
  auto answer = answer_hello(hello, state_path);
  if (!answer) return fail(std::move(answer).error());
  if (!answer->result) return write_message(connection, *answer);  // rejected: nothing registered

  // The entry is registered before the acceptance is written, so a browser holding its
  // acceptance can be sent requests at once. Jobs queued meanwhile wait in the queue until
  // this thread serves them, after the acceptance is on the wire.
  const Json& result = *answer->result;
  BrowserEntry entry{result["instanceId"].get<std::string>(),
                     result.value("shared", Json(false)) == Json(true),
                     std::make_shared<BrowserLink>()};
  entry.link->attach_socket(connection.socket());
  registry.insert(entry);
  log_info("registered Chromium connection for " + entry.key);

  Status written = write_message(connection, *answer);
  if (written) serve_jobs(connection, *entry.link);

  entry.link->detach_socket();
  registry.remove(entry);
  log_info("unregistered Chromium connection for " + entry.key);
  return written;
}

}  // namespace vesk
