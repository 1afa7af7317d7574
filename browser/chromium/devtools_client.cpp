#include "browser/chromium/devtools_client.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

namespace vesk::browser {

namespace {

int millis_until(Deadline deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return 0;
  return left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
}

int error_code(const Json& error) {
  if (!error.is_object()) return 0;
  auto code = error.find("code");
  return code != error.end() && code->is_number_integer() ? code->get<int>() : 0;
}

std::string describe_error_reply(const std::string& method, const Json& error) {
  std::string text = method + ": ";
  if (error.is_object() && error.contains("message") && error["message"].is_string()) {
    text += error["message"].get<std::string>();
  } else {
    text += error.dump();
  }
  if (error.is_object() && error.contains("data") && error["data"].is_string()) {
    text += " (" + error["data"].get<std::string>() + ")";
  }
  return text;
}

}  // namespace

std::int64_t leading_reply_id(std::string_view message) {
  constexpr std::string_view kPrefix = R"({"id":)";
  if (!message.starts_with(kPrefix)) return 0;
  message.remove_prefix(kPrefix.size());
  const std::size_t digits = message.find_first_not_of("0123456789");
  if (digits == 0 || digits > 10 || digits == std::string_view::npos || message[digits] != ',' ||
      message[0] == '0') {
    return 0;
  }
  std::int64_t id = 0;
  for (char c : message.substr(0, digits)) id = id * 10 + (c - '0');
  return id <= INT32_MAX ? id : 0;
}

bool EventFilter::accepts(const CdpEvent& event) const {
  if (!session_id.empty() && event.session_id != session_id) return false;
  if (method.empty()) return true;
  if (method.back() == '.') return event.method.starts_with(method);
  if (method.back() == '*') return event.method.starts_with(std::string_view(method).substr(0, method.size() - 1));
  return event.method == method;
}

// ---- Listener ----

Listener::Listener(Listener&& other) noexcept
    : client_(std::exchange(other.client_, nullptr)), id_(std::exchange(other.id_, 0)) {}

Listener& Listener::operator=(Listener&& other) noexcept {
  if (this != &other) {
    reset();
    client_ = std::exchange(other.client_, nullptr);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

void Listener::reset() {
  if (client_ != nullptr) client_->unlisten(id_);
  client_ = nullptr;
  id_ = 0;
}

// ---- SentCall ----

SentCall::SentCall(SentCall&& other) noexcept
    : client_(std::exchange(other.client_, nullptr)),
      id_(std::exchange(other.id_, 0)),
      method_(std::move(other.method_)),
      options_(std::move(other.options_)) {}

SentCall& SentCall::operator=(SentCall&& other) noexcept {
  if (this != &other) {
    forget();
    client_ = std::exchange(other.client_, nullptr);
    id_ = std::exchange(other.id_, 0);
    method_ = std::move(other.method_);
    options_ = std::move(other.options_);
  }
  return *this;
}

std::expected<CdpReply, CdpFailure> SentCall::wait() {
  if (client_ == nullptr) {
    return std::unexpected(CdpFailure{CdpFailureKind::Closed, method_ + ": its reply was taken already", {}});
  }
  // await_reply removes the call's entry whatever the outcome.
  return std::exchange(client_, nullptr)->await_reply(id_, method_, options_);
}

void SentCall::forget() {
  if (client_ != nullptr) std::exchange(client_, nullptr)->forget_reply(id_);
}

// ---- EventQueue ----

std::optional<CdpEvent> EventQueue::wait_for(const std::function<bool(const CdpEvent&)>& accept,
                                             Deadline deadline) {
  std::unique_lock lock(mutex_);
  while (true) {
    while (!events_.empty()) {
      CdpEvent event = std::move(events_.front());
      events_.pop_front();
      if (accept(event)) return event;
    }
    if (closed_) return std::nullopt;
    if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && events_.empty()) {
      return std::nullopt;
    }
  }
}

std::vector<CdpEvent> EventQueue::drain() {
  std::lock_guard lock(mutex_);
  std::vector<CdpEvent> out(std::make_move_iterator(events_.begin()),
                            std::make_move_iterator(events_.end()));
  events_.clear();
  return out;
}

void EventQueue::push(const CdpEvent& event) {
  if (!filter_(event)) return;
  {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
  }
  changed_.notify_all();
}

void EventQueue::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

// ---- DevToolsClient ----

DevToolsClient::DevToolsClient(UniqueFd to_browser, UniqueFd from_browser,
                               std::size_t max_message_bytes)
    : to_browser_(std::move(to_browser)),
      from_browser_(std::move(from_browser)),
      max_message_bytes_(max_message_bytes) {
  // A write to the pipe of an exited Chromium must fail with EPIPE, not end the process.
  static std::once_flag ignore_sigpipe;
  std::call_once(ignore_sigpipe, [] { ::signal(SIGPIPE, SIG_IGN); });
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    wake_read_.reset(fds[0]);
    wake_write_.reset(fds[1]);
  }
  // Writes poll for room so that a deadline also bounds a stalled pipe.
  int flags = ::fcntl(to_browser_.get(), F_GETFL);
  if (flags >= 0) ::fcntl(to_browser_.get(), F_SETFL, flags | O_NONBLOCK);
  reader_ = std::thread([this] { read_loop(); });
}

DevToolsClient::~DevToolsClient() {
  if (wake_write_.valid()) {
    char byte = 1;
    [[maybe_unused]] auto n = ::write(wake_write_.get(), &byte, 1);
  }
  if (reader_.joinable()) reader_.join();
  mark_closed("the DevTools transport was shut down");
}

Listener DevToolsClient::listen(EventFilter filter, std::function<void(const CdpEvent&)> listener) {
  std::lock_guard lock(listeners_mutex_);
  const std::uint64_t id = next_listener_++;
  listeners_.push_back(Registered{id, std::move(filter), std::move(listener)});
  return Listener(this, id);
}

void DevToolsClient::unlisten(std::uint64_t id) {
  std::lock_guard lock(listeners_mutex_);
  std::erase_if(listeners_, [id](const Registered& r) { return r.id == id; });
}

std::shared_ptr<EventQueue> DevToolsClient::subscribe(EventQueue::Filter filter) {
  auto queue = std::make_shared<EventQueue>(std::move(filter));
  std::lock_guard lock(mutex_);
  if (closed_) {
    queue->close();
  } else {
    queues_.push_back(queue);
  }
  return queue;
}

std::string DevToolsClient::close_reason() const {
  std::lock_guard lock(mutex_);
  return close_reason_;
}

CdpResult DevToolsClient::call(const std::string& method, Json params,
                                  const CallOptions& options) {
  auto reply = call_with_sequence(method, std::move(params), options);
  if (!reply) return std::unexpected(std::move(reply.error()));
  return std::move(reply->result);
}

std::expected<CdpReply, CdpFailure> DevToolsClient::call_with_sequence(
    const std::string& method, Json params, const CallOptions& options) {
  auto id = send_command(method, std::move(params), options);
  if (!id) return std::unexpected(std::move(id.error()));
  if (!options.await_reply) {
    forget_reply(*id);
    return CdpReply{Json::object(), 0};
  }
  return await_reply(*id, method, options);
}

std::expected<SentCall, CdpFailure> DevToolsClient::send_call(const std::string& method, Json params,
                                                              const CallOptions& options) {
  auto id = send_command(method, std::move(params), options);
  if (!id) return std::unexpected(std::move(id.error()));
  return SentCall(this, *id, method, options);
}

void DevToolsClient::forget_reply(std::int32_t id) {
  std::lock_guard lock(mutex_);
  pending_.erase(id);
}

// Registers the call's id and writes the command; the reply is awaited separately.
std::expected<std::int32_t, CdpFailure> DevToolsClient::send_command(const std::string& method, Json params,
                                                                     const CallOptions& options) {
  std::int32_t id;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return std::unexpected(CdpFailure{CdpFailureKind::Closed, close_reason_, {}});
    if (options.interrupt != nullptr) {
      if (auto failure = options.interrupt->interrupted(method)) return std::unexpected(std::move(*failure));
    }
    id = next_id_;
    next_id_ = next_id_ == INT32_MAX ? 1 : next_id_ + 1;
    pending_[id] = Pending{};
    pending_[id].filter = options.reply_filter;
  }

  Json command = {{"id", id}, {"method", method}};
  command["params"] = params.is_null() ? Json::object() : std::move(params);
  if (!options.session_id.empty()) command["sessionId"] = options.session_id;
  // Page text may hold invalid UTF-8 (for example from a file); replace it rather than fail.
  std::string frame = command.dump(-1, ' ', false, Json::error_handler_t::replace);

  if (frame.size() > kMaxCommandBytes) {
    forget_reply(id);
    return std::unexpected(CdpFailure{
        CdpFailureKind::TooLarge,
        method + ": command of " + std::to_string(frame.size()) + " bytes exceeds the limit of " +
            std::to_string(kMaxCommandBytes) + " bytes",
        {}});
  }
  frame.push_back('\0');

  std::string why;
  {
    std::lock_guard write_lock(write_mutex_);
    if (!write_frame(frame, options.deadline, why)) {
      forget_reply(id);
      // A partly written command leaves the stream unusable.
      mark_closed("failed to write to the DevTools pipe: " + why);
      return std::unexpected(CdpFailure{CdpFailureKind::Closed, method + ": " + why, {}});
    }
  }
  return id;
}

std::expected<CdpReply, CdpFailure> DevToolsClient::await_reply(std::int32_t id, const std::string& method,
                                                                const CallOptions& options) {
  std::unique_lock lock(mutex_);
  while (true) {
    auto it = pending_.find(id);
    if (it != pending_.end() && it->second.refused) {
      pending_.erase(it);
      return std::unexpected(CdpFailure{
          CdpFailureKind::TooLarge,
          method + ": Chromium's reply exceeded the limit of " + std::to_string(max_message_bytes_) +
              " bytes and was dropped unread",
          {}});
    }
    if (it != pending_.end() && it->second.reply) {
      Json message = std::move(*it->second.reply);
      std::uint64_t sequence = it->second.sequence;
      pending_.erase(it);
      if (message.contains("error")) {
        return std::unexpected(CdpFailure{CdpFailureKind::Protocol,
                                          describe_error_reply(method, message["error"]), {},
                                          error_code(message["error"])});
      }
      Json result = message.contains("result") ? std::move(message["result"]) : Json::object();
      return CdpReply{std::move(result), sequence};
    }
    if (closed_) {
      pending_.erase(id);
      return std::unexpected(CdpFailure{CdpFailureKind::Closed, method + ": " + close_reason_, {}});
    }
    if (options.interrupt != nullptr) {
      if (auto failure = options.interrupt->interrupted(method)) {
        // The reply may still come (after the dialog is handled); it is dropped then.
        pending_.erase(id);
        return std::unexpected(std::move(*failure));
      }
    }
    if (changed_.wait_until(lock, options.deadline) == std::cv_status::timeout) {
      auto late = pending_.find(id);
      if (late != pending_.end() && late->second.answered()) continue;
      pending_.erase(id);
      return std::unexpected(
          CdpFailure{CdpFailureKind::Timeout, method + ": no reply from Chromium in time", {}});
    }
  }
}

bool DevToolsClient::write_frame(const std::string& frame, Deadline deadline, std::string& why) {
  const char* data = frame.data();
  std::size_t left = frame.size();
  while (left > 0) {
    ssize_t n = ::write(to_browser_.get(), data, left);
    if (n > 0) {
      data += n;
      left -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{to_browser_.get(), POLLOUT, 0};
      int ready = ::poll(&p, 1, millis_until(deadline));
      if (ready == 0) {
        why = "Chromium stopped reading commands";
        return false;
      }
      if (ready < 0 && errno != EINTR) {
        why = std::strerror(errno);
        return false;
      }
      continue;
    }
    why = n < 0 ? std::strerror(errno) : "failed to write whole buffer";
    return false;
  }
  return true;
}

void DevToolsClient::read_loop() {
  std::string buffer;
  bool skipping = false;  // inside a refused message, up to its NUL
  std::vector<char> chunk(256 * 1024);
  while (true) {
    pollfd fds[2] = {{from_browser_.get(), POLLIN, 0}, {wake_read_.get(), POLLIN, 0}};
    int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      mark_closed(std::string("failed to wait for the DevTools pipe: ") + std::strerror(errno));
      return;
    }
    if (fds[1].revents != 0) return;  // shutting down
    ssize_t n = ::read(from_browser_.get(), chunk.data(), chunk.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      mark_closed(n == 0 ? "Chromium closed the DevTools pipe (it exited)"
                         : std::string("failed to read the DevTools pipe: ") + std::strerror(errno));
      return;
    }
    // Chromium escapes everything outside ASCII, so a NUL byte always ends a message. A
    // message longer than the bound is refused as soon as it is known to be too long, and
    // its remaining bytes are skipped up to its NUL.
    std::size_t scanned_from = buffer.size();
    buffer.append(chunk.data(), static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t i = scanned_from; i < buffer.size(); ++i) {
      if (buffer[i] != '\0') continue;
      std::string_view message = std::string_view(buffer).substr(start, i - start);
      if (skipping) {
        skipping = false;
      } else if (message.size() > max_message_bytes_) {
        refuse_message(message);
      } else {
        handle_message(message);
      }
      start = i + 1;
    }
    buffer.erase(0, start);
    if (!skipping && buffer.size() > max_message_bytes_) {
      refuse_message(buffer);
      skipping = true;
    }
    if (skipping) buffer.clear();
  }
}

// Chromium writes a reply's id first ({"id":12,"result":...}): that much of a refused
// message tells which call to fail, so it does not wait out its deadline.
void DevToolsClient::refuse_message(std::string_view start) {
  next_sequence_++;
  const std::int64_t id = leading_reply_id(start);
  if (id == 0) return;  // an event, or no id we could have sent: dropped
  {
    std::lock_guard lock(mutex_);
    auto it = pending_.find(static_cast<std::int32_t>(id));
    if (it == pending_.end() || it->second.answered()) return;
    it->second.refused = true;
  }
  changed_.notify_all();
}

void DevToolsClient::handle_message(std::string_view text) {
  Json::parser_callback_t filter;
  if (const std::int64_t id = leading_reply_id(text); id >= 1 && id <= INT32_MAX) {
    std::lock_guard lock(mutex_);
    auto it = pending_.find(static_cast<std::int32_t>(id));
    if (it != pending_.end()) filter = it->second.filter;
  }
  Json message;
  if (filter) {
    message = Json::parse(text.begin(), text.end(), filter, false);
    if (message.is_discarded()) {
      // Refused, perhaps for a lone surrogate in the page's text: read it mended.
      std::string mended(text);
      if (replace_lone_surrogate_escapes(mended)) message = Json::parse(mended.begin(), mended.end(), filter, false);
    }
  } else if (auto parsed = parse_json_mending_surrogates(text)) {
    message = std::move(*parsed);
  }
  if (!message.is_object()) return;  // nothing we could match to a caller
  std::uint64_t sequence = next_sequence_++;
  if (message.contains("id") && message["id"].is_number_integer()) {
    auto id = message["id"].get<std::int64_t>();
    // Our ids are positive 32-bit numbers: anything else answers no call of ours (4294967297
    // must not be taken for 1).
    if (id < 1 || id > INT32_MAX) return;
    {
      std::lock_guard lock(mutex_);
      auto it = pending_.find(static_cast<std::int32_t>(id));
      // Its caller gave up, or a reply came already: the first answer stands.
      if (it == pending_.end() || it->second.answered()) return;
      it->second.reply = std::move(message);
      it->second.sequence = sequence;
    }
    changed_.notify_all();
    return;
  }
  if (!message.contains("method") || !message["method"].is_string()) return;
  CdpEvent event;
  event.method = message["method"].get<std::string>();
  if (message.contains("params")) event.params = std::move(message["params"]);
  if (message.contains("sessionId") && message["sessionId"].is_string()) {
    event.session_id = message["sessionId"].get<std::string>();
  }
  event.sequence = sequence;
  dispatch_event(std::move(event));
}

void DevToolsClient::dispatch_event(CdpEvent event) {
  // Listeners first: a method that wakes on a queued event then finds the trackers'
  // state already updated (a dialog closed, a request finished).
  {
    std::lock_guard lock(listeners_mutex_);
    for (const auto& registered : listeners_) {
      if (registered.filter.accepts(event)) registered.callback(event);
    }
  }
  std::vector<std::shared_ptr<EventQueue>> queues;
  {
    // Taking the lock orders this after any caller's interrupt check, so that a caller
    // about to wait is woken for the state a listener just changed.
    std::lock_guard lock(mutex_);
    std::erase_if(queues_, [](const auto& weak) { return weak.expired(); });
    for (auto& weak : queues_) {
      if (auto queue = weak.lock()) queues.push_back(std::move(queue));
    }
  }
  changed_.notify_all();
  for (auto& queue : queues) queue->push(event);
}

void DevToolsClient::mark_closed(std::string reason) {
  std::vector<std::shared_ptr<EventQueue>> queues;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    close_reason_ = std::move(reason);
    closed_ = true;
    for (auto& weak : queues_) {
      if (auto queue = weak.lock()) queues.push_back(std::move(queue));
    }
    queues_.clear();
  }
  changed_.notify_all();
  for (auto& queue : queues) queue->close();
}

}  // namespace vesk::browser
