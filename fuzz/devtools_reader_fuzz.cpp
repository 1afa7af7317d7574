// veskbrowser's DevTools reader over a stream of what Chromium might send. A few calls
// wait for their replies while the stream arrives in pieces; then the stream ends.
//
// Input: byte 0 picks the incoming-message bound (mostly small, so that refusing an
// oversized message is reached), byte 1 how many calls wait (1 to 4) and which carry a
// session, byte 2 the piece size; the rest is the stream.
//
// Properties: nothing crashes or hangs; each call ends with what an independent reading
// of the stream says is its own answer (the first reply bearing exactly its id, a refusal
// when that reply was too long, or the stream's end when none came); every event reaches
// a listener and a queue, in order, with its method, session and params.

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "browser/chromium/devtools_client.hpp"
#include "fuzz_check.hpp"

namespace {

using vesk::Json;
using vesk::fuzz::require;
using namespace vesk::browser;

constexpr std::size_t kLargestPiece = 64 * 1024;

std::string describe(const CdpEvent& event) {
  return event.method + " @" + event.session_id + " " + event.params.dump();
}

// What the stream should do, read without the client: each call id's outcome and the
// events in order. An outcome is "result <json>", "error", "too large" or "closed".
struct Expected {
  std::map<std::int64_t, std::string> outcomes;
  std::vector<std::string> events;
};

Expected read_independently(std::string_view stream, std::size_t bound,
                            const std::vector<std::int64_t>& call_ids) {
  Expected expected;
  auto answer = [&](std::int64_t id, std::string outcome) {
    if (std::find(call_ids.begin(), call_ids.end(), id) == call_ids.end()) return;
    expected.outcomes.try_emplace(id, std::move(outcome));  // the first answer stands
  };
  for (std::size_t end; (end = stream.find('\0')) != std::string_view::npos; stream.remove_prefix(end + 1)) {
    std::string_view text = stream.substr(0, end);
    if (text.size() > bound) {
      // Only its leading id is read (the reader's own helper, tested on its own).
      answer(leading_reply_id(text), "too large");
      continue;
    }
    auto parsed = vesk::parse_json(text);
    if (!parsed || !parsed->is_object()) continue;
    const Json& message = *parsed;
    if (message.contains("id") && message["id"].is_number_integer()) {
      const Json& id = message["id"];
      // Only an id of exactly one of our calls answers it, whatever its low bits.
      if (id.is_number_unsigned() ? id.get<std::uint64_t>() > INT32_MAX
                                  : id.get<std::int64_t>() < 1 || id.get<std::int64_t>() > INT32_MAX) {
        continue;
      }
      if (message.contains("error")) {
        answer(id.get<std::int64_t>(), "error");
      } else {
        answer(id.get<std::int64_t>(),
               "result " + (message.contains("result") ? message["result"] : Json::object()).dump());
      }
      continue;
    }
    if (!message.contains("method") || !message["method"].is_string()) continue;
    CdpEvent event;
    event.method = message["method"].get<std::string>();
    if (message.contains("params")) event.params = message["params"];
    if (message.contains("sessionId") && message["sessionId"].is_string()) {
      event.session_id = message["sessionId"].get<std::string>();
    }
    expected.events.push_back(describe(event));
  }
  // An unfinished message already past the bound was refused as soon as it got there.
  if (stream.size() > bound) answer(leading_reply_id(stream), "too large");
  for (std::int64_t id : call_ids) expected.outcomes.try_emplace(id, "closed");
  return expected;
}

std::string outcome_of(const CdpResult& result) {
  if (result) return "result " + result->dump();
  switch (result.error().kind) {
    case CdpFailureKind::Protocol: return "error";
    case CdpFailureKind::TooLarge: return "too large";
    case CdpFailureKind::Closed: return "closed";
    case CdpFailureKind::Timeout: return "timeout";
    case CdpFailureKind::DialogOpen: return "dialog";
  }
  return "?";
}

// Reads `count` commands from the command pipe: each call's method to its id.
std::map<std::string, std::int64_t> read_commands(int fd, std::size_t count) {
  std::map<std::string, std::int64_t> ids;
  std::string text;
  char c;
  while (ids.size() < count) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;  // libFuzzer's timer signal
    if (n != 1) break;
    if (c != '\0') {
      text.push_back(c);
      continue;
    }
    Json command = Json::parse(text);
    ids[command["method"].get<std::string>()] = command["id"].get<std::int64_t>();
    text.clear();
  }
  require(ids.size() == count, "every call wrote its command");
  return ids;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::size_t bound = data[0] < 64 ? kMaxReplyBytes : 8 + (data[0] - 64) * 4u;
  const std::size_t call_count = 1 + data[1] % 4;
  const std::size_t piece = 1 + data[2];
  std::string_view stream(reinterpret_cast<const char*>(data) + 3, size - 3);

  int commands[2];
  int replies[2];
  require(::pipe2(commands, O_CLOEXEC) == 0, "pipe failed");
  // Sequenced packets hand each piece to exactly one read.
  require(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, replies) == 0, "socketpair failed");
  vesk::UniqueFd command_reader(commands[0]);
  vesk::UniqueFd reply_writer(replies[1]);
  int buffer = 4 * 1024 * 1024;
  ::setsockopt(reply_writer.get(), SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  DevToolsClient client(vesk::UniqueFd(commands[1]), vesk::UniqueFd(replies[0]), bound);

  std::mutex heard_mutex;
  std::vector<std::string> heard;
  Listener listener = client.listen({}, [&](const CdpEvent& event) {
    std::lock_guard lock(heard_mutex);
    heard.push_back(describe(event));
  });
  auto queue = client.subscribe([](const CdpEvent&) { return true; });
  // Takes nothing; its wait ends when the reader has reached the stream's end.
  auto end_of_stream = client.subscribe([](const CdpEvent&) { return false; });

  std::vector<CdpResult> results(call_count);
  std::vector<std::thread> calls;
  for (std::size_t i = 0; i < call_count; ++i) {
    calls.emplace_back([&, i] {
      CallOptions options;
      options.deadline = deadline_in(std::chrono::minutes(5));  // the stream's end comes first
      if ((data[1] >> (2 + i)) & 1) options.session_id = "S" + std::to_string(i);
      results[i] = client.call("Call." + std::to_string(i), Json::object(), options);
    });
  }
  std::map<std::string, std::int64_t> ids = read_commands(command_reader.get(), call_count);
  std::vector<std::int64_t> call_ids;
  for (const auto& [method, id] : ids) call_ids.push_back(id);
  const Expected expected = read_independently(stream, bound, call_ids);

  for (std::size_t count = 0; !stream.empty(); ++count) {
    const std::size_t length = std::min(stream.size(), count < 256 ? piece : kLargestPiece);
    ssize_t sent;
    do {
      sent = ::send(reply_writer.get(), stream.data(), length, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    require(sent == static_cast<ssize_t>(length), "the stream was written whole");
    stream.remove_prefix(length);
  }
  reply_writer.reset();  // Chromium exits
  for (auto& call : calls) call.join();
  // Calls answered early return before the rest of the stream is read: wait for its end.
  end_of_stream->wait_for([](const CdpEvent&) { return false; }, deadline_in(std::chrono::minutes(5)));
  require(client.closed(), "the reader saw the stream's end");

  for (std::size_t i = 0; i < call_count; ++i) {
    const std::int64_t id = ids.at("Call." + std::to_string(i));
    const std::string actual = outcome_of(results[i]);
    require(actual == expected.outcomes.at(id), "a call ends with its own answer",
            "call " + std::to_string(id) + ": got " + actual + ", expected " + expected.outcomes.at(id));
  }
  std::vector<std::string> queued;
  for (const CdpEvent& event : queue->drain()) queued.push_back(describe(event));
  std::lock_guard lock(heard_mutex);
  require(heard == expected.events, "listeners hear every event in order");
  require(queued == expected.events, "queues receive every event in order");
  return 0;
}
