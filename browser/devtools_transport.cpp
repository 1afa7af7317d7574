#include "browser/devtools_transport.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace vesk::browser {

namespace {

int millis_until(Deadline deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return 0;
  return left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
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

// ---- DevToolsTransport ----

DevToolsTransport::DevToolsTransport(UniqueFd to_browser, UniqueFd from_browser)
    : to_browser_(std::move(to_browser)), from_browser_(std::move(from_browser)) {
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

DevToolsTransport::~DevToolsTransport() {
  if (wake_write_.valid()) {
    char byte = 1;
    [[maybe_unused]] auto n = ::write(wake_write_.get(), &byte, 1);
  }
  if (reader_.joinable()) reader_.join();
  mark_closed("the DevTools transport was shut down");
}

void DevToolsTransport::set_event_observer(std::function<void(const CdpEvent&)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

std::shared_ptr<EventQueue> DevToolsTransport::subscribe(EventQueue::Filter filter) {
  auto queue = std::make_shared<EventQueue>(std::move(filter));
  std::lock_guard lock(mutex_);
  if (closed_) {
    queue->close();
  } else {
    queues_.push_back(queue);
  }
  return queue;
}

std::optional<Json> DevToolsTransport::open_dialog(const std::string& session_id) const {
  std::lock_guard lock(mutex_);
  auto it = open_dialogs_.find(session_id);
  if (it == open_dialogs_.end()) return std::nullopt;
  return it->second;
}

std::string DevToolsTransport::close_reason() const {
  std::lock_guard lock(mutex_);
  return close_reason_;
}

CdpResult DevToolsTransport::call(const std::string& method, Json params,
                                  const CallOptions& options) {
  auto reply = call_with_sequence(method, std::move(params), options);
  if (!reply) return std::unexpected(std::move(reply.error()));
  return std::move(reply->result);
}

std::expected<CdpReply, CdpFailure> DevToolsTransport::call_with_sequence(
    const std::string& method, Json params, const CallOptions& options) {
  std::int32_t id;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return std::unexpected(CdpFailure{CdpFailureKind::Closed, close_reason_, {}});
    if (options.stop_on_dialog) {
      auto it = open_dialogs_.find(options.session_id);
      if (it != open_dialogs_.end()) {
        return std::unexpected(CdpFailure{CdpFailureKind::DialogOpen,
                                          method + ": a JavaScript dialog is open", it->second});
      }
    }
    id = next_id_;
    next_id_ = next_id_ == INT32_MAX ? 1 : next_id_ + 1;
    pending_[id] = Pending{};
  }

  Json command = {{"id", id}, {"method", method}};
  command["params"] = params.is_null() ? Json::object() : std::move(params);
  if (!options.session_id.empty()) command["sessionId"] = options.session_id;
  // Page text may hold invalid UTF-8 (for example from a file); replace it rather than fail.
  std::string frame = command.dump(-1, ' ', false, Json::error_handler_t::replace);

  auto forget = [&] {
    std::lock_guard lock(mutex_);
    pending_.erase(id);
  };
  if (frame.size() > kMaxCommandBytes) {
    forget();
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
      forget();
      // A partly written command leaves the stream unusable.
      mark_closed("failed to write to the DevTools pipe: " + why);
      return std::unexpected(CdpFailure{CdpFailureKind::Closed, method + ": " + why, {}});
    }
  }

  std::unique_lock lock(mutex_);
  while (true) {
    auto it = pending_.find(id);
    if (it != pending_.end() && it->second.reply) {
      Json message = std::move(*it->second.reply);
      std::uint64_t sequence = it->second.sequence;
      pending_.erase(it);
      if (message.contains("error")) {
        return std::unexpected(
            CdpFailure{CdpFailureKind::Protocol, describe_error_reply(method, message["error"]), {}});
      }
      Json result = message.contains("result") ? std::move(message["result"]) : Json::object();
      return CdpReply{std::move(result), sequence};
    }
    if (closed_) {
      pending_.erase(id);
      return std::unexpected(CdpFailure{CdpFailureKind::Closed, method + ": " + close_reason_, {}});
    }
    if (options.stop_on_dialog) {
      auto dialog = open_dialogs_.find(options.session_id);
      if (dialog != open_dialogs_.end()) {
        // The reply comes once the dialog is handled; it is dropped then.
        pending_.erase(id);
        return std::unexpected(CdpFailure{CdpFailureKind::DialogOpen,
                                          method + ": a JavaScript dialog opened", dialog->second});
      }
    }
    if (changed_.wait_until(lock, options.deadline) == std::cv_status::timeout) {
      auto late = pending_.find(id);
      if (late != pending_.end() && late->second.reply) continue;
      pending_.erase(id);
      return std::unexpected(
          CdpFailure{CdpFailureKind::Timeout, method + ": no reply from Chromium in time", {}});
    }
  }
}

bool DevToolsTransport::write_frame(const std::string& frame, Deadline deadline, std::string& why) {
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

void DevToolsTransport::read_loop() {
  std::string buffer;
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
    // Chromium escapes everything outside ASCII, so a NUL byte always ends a message.
    std::size_t scanned_from = buffer.size();
    buffer.append(chunk.data(), static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t i = scanned_from; i < buffer.size(); ++i) {
      if (buffer[i] != '\0') continue;
      handle_message(std::string_view(buffer).substr(start, i - start));
      start = i + 1;
    }
    buffer.erase(0, start);
  }
}

void DevToolsTransport::handle_message(std::string_view text) {
  auto parsed = parse_json(text);
  if (!parsed || !parsed->is_object()) return;  // nothing we could match to a caller
  Json& message = *parsed;
  std::uint64_t sequence = next_sequence_++;
  if (message.contains("id") && message["id"].is_number_integer()) {
    auto id = message["id"].get<std::int64_t>();
    {
      std::lock_guard lock(mutex_);
      auto it = pending_.find(static_cast<std::int32_t>(id));
      if (it == pending_.end()) return;  // its caller gave up
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

void DevToolsTransport::dispatch_event(CdpEvent event) {
  std::vector<std::shared_ptr<EventQueue>> queues;
  std::function<void(const CdpEvent&)> observer;
  {
    std::lock_guard lock(mutex_);
    if (event.method == "Page.javascriptDialogOpening") {
      open_dialogs_[event.session_id] = event.params;
    } else if (event.method == "Page.javascriptDialogClosed") {
      open_dialogs_.erase(event.session_id);
    } else if (event.method == "Target.detachedFromTarget" && event.params.is_object() &&
               event.params.value("sessionId", Json()).is_string()) {
      open_dialogs_.erase(event.params["sessionId"].get<std::string>());
    }
    std::erase_if(queues_, [](const auto& weak) { return weak.expired(); });
    for (auto& weak : queues_) {
      if (auto queue = weak.lock()) queues.push_back(std::move(queue));
    }
    observer = observer_;
  }
  // Dialog state changed may end a waiting call.
  changed_.notify_all();
  for (auto& queue : queues) queue->push(event);
  if (observer) observer(event);
}

void DevToolsTransport::mark_closed(std::string reason) {
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
