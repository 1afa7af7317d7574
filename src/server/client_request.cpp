#include "server/client_request.hpp"

#include <optional>
#include <string>
#include <variant>

#include "base/log.hpp"
#include "protocol/answer_wait.hpp"
#include "server/message_text.hpp"

namespace vesk {

namespace {

constexpr std::chrono::seconds kAnswerWriteTimeout{30};
constexpr const char* kNoBrowser = "no connected Chromium instance";
constexpr const char* kGone = "connected Chromium instance is no longer available";
constexpr const char* kTimedOut = "timed out waiting for Chromium response";  // code "timeout"

// A download that waits for the file gets the long wait; anything else the normal one.
// Only the long-waiting methods' params are read, and those are small requests.
std::chrono::milliseconds answer_wait_for(const RelayedMessage& relayed_request, const BrokerOptions& options) {
  if (!relayed_request.header.method) return options.answer_wait;
  if (*relayed_request.header.method != "download") return options.answer_wait;
  auto request = decode_relayed_message(relayed_request);
  if (!request) return options.answer_wait;
  const bool long_wait = waits_long_for_answer(*request->method, request->params);
  return long_wait ? options.download_wait : options.answer_wait;
}

// Shared tabs learn who they are talking for through the reserved "vesk" member.
// The answer is decoded and written afresh only in this case.
void mark_shared_result(RelayedMessage& relayed_answer, const std::string& key) {
  auto answer = decode_relayed_message(relayed_answer);
  if (!answer || !answer->result || !answer->result->is_object()) return;
  (*answer->result)["vesk"] = Json{{"agentId", key}, {"shared", true}};
  relayed_answer = relayed(*answer);
}

RelayedMessage relayed_error(const std::string& id, std::string code, std::string text) {
  return relayed(error_message(id, std::move(code), std::move(text)));
}

}  // namespace

RelayedMessage broker_request(std::shared_ptr<const RelayedMessage> request, Registry& registry,
                              const BrokerOptions& options) {
  const std::string& id = request->header.id;
  std::vector<BrowserEntry> entries = registry.snapshot();
  if (entries.empty()) return relayed_error(id, "noBrowser", kNoBrowser);

  const auto wait = answer_wait_for(*request, options);
  std::optional<std::string> last_failure;
  bool one_timed_out = false;
  for (const BrowserEntry& entry : entries) {
    auto [reply_sender, reply_receiver] = make_reply_channel<JobReply>();
    if (!entry.link->jobs().push(Job{request, std::move(reply_sender)})) {
      registry.remove(entry);
      last_failure = kGone;
      continue;
    }
    ReplyOutcome<JobReply> outcome = reply_receiver.wait_for(wait);
    switch (outcome.status) {
      case ReplyStatus::Answered:
        if (auto* answer = std::get_if<RelayedMessage>(&*outcome.value)) {
          if (entry.shared) mark_shared_result(*answer, entry.key);
          return std::move(*answer);
        }
        // The browser connection failed while serving this request: it is gone.
        registry.remove(entry);
        last_failure = std::get<std::string>(*outcome.value);
        break;
      case ReplyStatus::TimedOut:
        // A slow browser keeps its place; the request may still reach it later.
        one_timed_out = true;
        break;
      case ReplyStatus::Closed:
        // The connection was retired (replaced or removed) with this job still queued.
        last_failure = kGone;
        break;
    }
  }
  // A browser that is busy (a page in an endless script) is connected and alive: the
  // client must not replace it, so its silence is a time-out, not a lost browser.
  if (one_timed_out) return relayed_error(id, "timeout", kTimedOut);
  return relayed_error(id, "browserDisconnected", last_failure.value_or(kNoBrowser));
}

Status relay_client_request(Connection& connection, RelayedMessage request, Registry& registry,
                            const BrokerOptions& options) {
  log_info("received CLI request " + request.header.id + " " + method_or_unknown(request));
  RelayedMessage answer =
      broker_request(std::make_shared<const RelayedMessage>(std::move(request)), registry, options);
  // A client that stops reading its answer must not hold this thread for good.
  if (auto set = set_socket_timeouts(connection.socket(), std::chrono::milliseconds(0), kAnswerWriteTimeout); !set) {
    return fail(set.error());
  }
  Status written = write_relayed_message(connection, answer);
  connection.close();
  return written;
}

}  // namespace vesk
