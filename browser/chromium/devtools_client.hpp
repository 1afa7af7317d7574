#pragma once
// The DevTools client over Chromium's debugging pipe: each message is one JSON text
// followed by a NUL byte; we write commands on one pipe and read replies and events on
// the other. One reader thread owns the incoming pipe. It hands each reply to the caller
// waiting for that integer id, and each event first to the listeners whose filter takes
// it (trackers keep per-tab state this way), then to the queues subscribed to it (a method
// waiting for one event). No single reply (for instance one held back by an open
// JavaScript dialog) ever blocks the others.
//
// Every call has a deadline. A reply that does not come in time is a Timeout; when the
// pipe closes (Chromium exited) every waiting call fails with Closed. A call may also be
// ended early by an interrupt its caller passes (an open dialog, see CallInterrupt).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/json.hpp"
#include "platform/file_descriptor.hpp"

namespace vesk::browser {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

inline Deadline deadline_in(std::chrono::milliseconds span) { return Clock::now() + span; }

// A command bigger than this is refused before it is written: Chromium stops reading for
// good when a single command reaches 100 MiB.
inline constexpr std::size_t kMaxCommandBytes = 32u * 1024u * 1024u;
// An incoming message bigger than this is refused rather than held in memory: the call it
// answers fails with TooLarge at once, an event that big is dropped. Well above what we
// ask for (page scripts cap their answers; PDFs, screenshots and accessibility trees of
// a few tens of MB pass), well below what would exhaust memory: a script whose value is
// a 200 MB string fails cleanly instead of being held, parsed and copied.
inline constexpr std::size_t kMaxReplyBytes = 128u * 1024u * 1024u;

enum class CdpFailureKind {
  Timeout,     // no reply before the deadline
  Closed,      // the pipe is gone: Chromium exited or the stream broke
  Protocol,    // Chromium answered with an error object
  DialogOpen,  // a JavaScript dialog is open on the session (see CallOptions)
  TooLarge,    // the command exceeds kMaxCommandBytes (nothing was sent), or the reply
               // exceeds the client's incoming bound (it was dropped unread)
};

// Chromium's numeric error codes (the "code" of an error reply) that we branch on.
inline constexpr int kCdpServerError = -32000;     // the command failed ("Node is not focusable")
inline constexpr int kCdpSessionNotFound = -32001;  // the session's target is gone
inline constexpr int kCdpMethodNotFound = -32601;
inline constexpr int kCdpInvalidParams = -32602;

struct CdpFailure {
  CdpFailureKind kind = CdpFailureKind::Protocol;
  std::string message;  // "Page.navigate: Cannot navigate to invalid URL"
  Json dialog;          // the dialog's opening event params, for DialogOpen
  int code = 0;         // Chromium's error code, for Protocol
  bool script_stopped = false;  // for Timeout: the page's script never ended and was stopped
};

using CdpResult = std::expected<Json, CdpFailure>;

struct CdpEvent {
  std::string method;
  Json params;
  std::string session_id;  // empty for browser-level events
  std::uint64_t sequence = 0;  // position among all incoming messages, replies included
};

// Something that makes waiting for a reply pointless, checked before a call is sent and
// again whenever an event arrives. While a JavaScript dialog is open on a session,
// Chromium holds back the replies of script evaluation and input events: the dialog
// tracker is such an interrupt, so a call fails with DialogOpen instead of waiting.
// Called with the client's lock held: it must only read its own state.
class CallInterrupt {
 public:
  virtual ~CallInterrupt() = default;
  // The failure to end the call with, or nullopt to keep waiting.
  virtual std::optional<CdpFailure> interrupted(const std::string& method) const = 0;
};

struct CallOptions {
  CallOptions() = default;
  // The common case: a session (empty: the browser), a deadline, and what may end it early.
  CallOptions(std::string session, Deadline until, const CallInterrupt* stop = nullptr)
      : session_id(std::move(session)), deadline(until), interrupt(stop) {}

  std::string session_id;  // empty: a browser-level command
  Deadline deadline = deadline_in(std::chrono::seconds(10));
  const CallInterrupt* interrupt = nullptr;  // must outlive the call
  // false: the command is sent and the call returns at once with an empty result; its reply,
  // when it comes, answers no call and is dropped. For clean-up nobody needs to wait for.
  bool await_reply = true;
  // Keeps only what the caller reads of a large reply: the reply is parsed through it, as
  // Json::parse's callback (false drops a key's value or a finished object).
  Json::parser_callback_t reply_filter;
};

// Which events a listener takes: `method` is a whole method name ("Page.loadEventFired"),
// a domain with its dot ("Network."), a prefix ending in "*" ("Browser.download*") or
// empty for all; `session_id` is one session, or
// empty for events of every session and of the browser.
struct EventFilter {
  std::string method;
  std::string session_id;
  [[nodiscard]] bool accepts(const CdpEvent& event) const;
};

// Replies carry the sequence number of their arrival, so that a caller can tell events
// that came after its reply from those before it.
struct CdpReply {
  Json result;
  std::uint64_t sequence = 0;
};

// A subscription: collects the events its filter accepts until it is dropped.
class EventQueue {
 public:
  using Filter = std::function<bool(const CdpEvent&)>;
  explicit EventQueue(Filter filter) : filter_(std::move(filter)) {}

  // The first queued event `accept` takes, removing it and everything before it; nullopt
  // at the deadline or when the transport closed.
  std::optional<CdpEvent> wait_for(const std::function<bool(const CdpEvent&)>& accept,
                                   Deadline deadline);
  // Every queued event, removing them.
  std::vector<CdpEvent> drain();

 private:
  friend class DevToolsClient;
  void push(const CdpEvent& event);
  void close();

  Filter filter_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<CdpEvent> events_;  // guarded by mutex_
  bool closed_ = false;          // guarded by mutex_
};

class DevToolsClient;

// The id at the start of a reply as Chromium writes it ({"id":12,...}), read without
// parsing the rest; 0 when the text does not start so or the id is not one we send.
std::int64_t leading_reply_id(std::string_view message);

// A listener's registration; dropping it removes the listener.
class Listener {
 public:
  Listener() = default;
  Listener(DevToolsClient* client, std::uint64_t id) : client_(client), id_(id) {}
  Listener(Listener&& other) noexcept;
  Listener& operator=(Listener&& other) noexcept;
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  ~Listener() { reset(); }
  void reset();

 private:
  DevToolsClient* client_ = nullptr;
  std::uint64_t id_ = 0;
};

// A command that was sent and whose reply is awaited later (DevToolsClient::send_call).
// Meanwhile the caller can send other commands: Chromium works on them in turn and the
// reader thread parses this one's reply as it arrives. Dropped unawaited, its reply is
// forgotten when it comes.
class SentCall {
 public:
  SentCall() = default;
  SentCall(SentCall&& other) noexcept;
  SentCall& operator=(SentCall&& other) noexcept;
  SentCall(const SentCall&) = delete;
  SentCall& operator=(const SentCall&) = delete;
  ~SentCall() { forget(); }

  // The reply, waited for until the deadline of the call's options; only once.
  std::expected<CdpReply, CdpFailure> wait();
  [[nodiscard]] const std::string& session_id() const { return options_.session_id; }

 private:
  friend class DevToolsClient;
  SentCall(DevToolsClient* client, std::int32_t id, std::string method, const CallOptions& options)
      : client_(client), id_(id), method_(std::move(method)), options_(options) {}
  void forget();

  DevToolsClient* client_ = nullptr;
  std::int32_t id_ = 0;
  std::string method_;
  CallOptions options_;
};

class DevToolsClient {
 public:
  // Takes our end of the command pipe (Chromium reads it as fd 3) and of the reply pipe
  // (Chromium writes fd 4), and starts the reader thread. An incoming message longer than
  // `max_message_bytes` is refused (tests pass a small bound).
  DevToolsClient(UniqueFd to_browser, UniqueFd from_browser,
                 std::size_t max_message_bytes = kMaxReplyBytes);
  ~DevToolsClient();
  DevToolsClient(const DevToolsClient&) = delete;
  DevToolsClient& operator=(const DevToolsClient&) = delete;

  std::expected<CdpReply, CdpFailure> call_with_sequence(const std::string& method, Json params,
                                                         const CallOptions& options);
  CdpResult call(const std::string& method, Json params, const CallOptions& options);
  // Sends the command and returns without waiting for its reply (see SentCall).
  std::expected<SentCall, CdpFailure> send_call(const std::string& method, Json params,
                                                const CallOptions& options);

  // Events for which `filter` is true are queued from now on, until the queue is dropped.
  std::shared_ptr<EventQueue> subscribe(EventQueue::Filter filter);

  // Calls `listener` on the reader thread for every event the filter takes, before the
  // queues see it, until the returned handle is dropped (dropping it waits for a call in
  // progress). A listener must be quick and must not call the client: it records, or hands
  // work to another thread.
  [[nodiscard]] Listener listen(EventFilter filter, std::function<void(const CdpEvent&)> listener);
  [[nodiscard]] bool closed() const { return closed_.load(); }
  // Why the transport closed ("Chromium closed the DevTools pipe").
  std::string close_reason() const;

 private:
  struct Pending {
    std::optional<Json> reply;  // the whole message
    std::uint64_t sequence = 0;
    bool refused = false;  // its reply exceeded max_message_bytes_ and was dropped
    Json::parser_callback_t filter;  // CallOptions::reply_filter
    [[nodiscard]] bool answered() const { return reply.has_value() || refused; }
  };

  friend class SentCall;
  std::expected<std::int32_t, CdpFailure> send_command(const std::string& method, Json params,
                                                       const CallOptions& options);
  std::expected<CdpReply, CdpFailure> await_reply(std::int32_t id, const std::string& method,
                                                  const CallOptions& options);
  void forget_reply(std::int32_t id);
  void read_loop();
  void handle_message(std::string_view text);
  void refuse_message(std::string_view start);
  void dispatch_event(CdpEvent event);
  void mark_closed(std::string reason);
  void unlisten(std::uint64_t id);
  friend class Listener;
  bool write_frame(const std::string& frame, Deadline deadline, std::string& why);

  UniqueFd to_browser_;
  UniqueFd from_browser_;
  const std::size_t max_message_bytes_;
  UniqueFd wake_read_;
  UniqueFd wake_write_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::int32_t, Pending> pending_;      // guarded by mutex_
  std::vector<std::weak_ptr<EventQueue>> queues_;  // guarded by mutex_
  std::string close_reason_;                     // guarded by mutex_
  std::int32_t next_id_ = 1;                     // guarded by mutex_
  std::uint64_t next_sequence_ = 1;              // reader thread only

  struct Registered {
    std::uint64_t id = 0;
    EventFilter filter;
    std::function<void(const CdpEvent&)> callback;
  };
  // Held while listeners run, so that removing one waits for its call to end.
  std::mutex listeners_mutex_;
  std::vector<Registered> listeners_;  // guarded by listeners_mutex_
  std::uint64_t next_listener_ = 1;    // guarded by listeners_mutex_
  std::atomic<bool> closed_{false};

  std::mutex write_mutex_;  // one command on the pipe at a time
  std::thread reader_;
};

}  // namespace vesk::browser
