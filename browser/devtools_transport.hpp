#pragma once
// The DevTools protocol over Chromium's debugging pipe: each message is one JSON text
// followed by a NUL byte; we write commands on one pipe and read replies and events on
// the other. One reader thread owns the incoming pipe. It hands each reply to the caller
// waiting for that integer id and each event to the queues subscribed to it, so no single
// reply (for instance one held back by an open JavaScript dialog) ever blocks the others.
//
// Every call has a deadline. A reply that does not come in time is a Timeout; when the
// pipe closes (Chromium exited) every waiting call fails with Closed.

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

enum class CdpFailureKind {
  Timeout,     // no reply before the deadline
  Closed,      // the pipe is gone: Chromium exited or the stream broke
  Protocol,    // Chromium answered with an error object
  DialogOpen,  // a JavaScript dialog is open on the session (see CallOptions)
  TooLarge,    // the command exceeds kMaxCommandBytes; nothing was sent
};

struct CdpFailure {
  CdpFailureKind kind = CdpFailureKind::Protocol;
  std::string message;  // "Page.navigate: Cannot navigate to invalid URL"
  Json dialog;          // the dialog's opening event params, for DialogOpen
};

using CdpResult = std::expected<Json, CdpFailure>;

struct CdpEvent {
  std::string method;
  Json params;
  std::string session_id;  // empty for browser-level events
  std::uint64_t sequence = 0;  // position among all incoming messages, replies included
};

struct CallOptions {
  std::string session_id;  // empty: a browser-level command
  Deadline deadline = deadline_in(std::chrono::seconds(10));
  // While a JavaScript dialog is open on the session, Chromium holds back the replies of
  // script evaluation and input events. With this set, a call does not wait for such a
  // reply: it fails with DialogOpen as soon as a dialog is open (and is not sent at all
  // when one is open already).
  bool stop_on_dialog = false;
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
  friend class DevToolsTransport;
  void push(const CdpEvent& event);
  void close();

  Filter filter_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<CdpEvent> events_;  // guarded by mutex_
  bool closed_ = false;          // guarded by mutex_
};

class DevToolsTransport {
 public:
  // Takes our end of the command pipe (Chromium reads it as fd 3) and of the reply pipe
  // (Chromium writes fd 4), and starts the reader thread.
  DevToolsTransport(UniqueFd to_browser, UniqueFd from_browser);
  ~DevToolsTransport();
  DevToolsTransport(const DevToolsTransport&) = delete;
  DevToolsTransport& operator=(const DevToolsTransport&) = delete;

  std::expected<CdpReply, CdpFailure> call_with_sequence(const std::string& method, Json params,
                                                         const CallOptions& options);
  CdpResult call(const std::string& method, Json params, const CallOptions& options);

  // Events for which `filter` is true are queued from now on, until the queue is dropped.
  std::shared_ptr<EventQueue> subscribe(EventQueue::Filter filter);

  // Called on the reader thread for every event, after the queues. Must not call back
  // into the transport. Set before the first call.
  void set_event_observer(std::function<void(const CdpEvent&)> observer);

  // The opening params of the dialog open on the session, if one is.
  std::optional<Json> open_dialog(const std::string& session_id) const;
  [[nodiscard]] bool closed() const { return closed_.load(); }
  // Why the transport closed ("Chromium closed the DevTools pipe").
  std::string close_reason() const;

 private:
  struct Pending {
    std::optional<Json> reply;  // the whole message
    std::uint64_t sequence = 0;
  };

  void read_loop();
  void handle_message(std::string_view text);
  void dispatch_event(CdpEvent event);
  void mark_closed(std::string reason);
  bool write_frame(const std::string& frame, Deadline deadline, std::string& why);

  UniqueFd to_browser_;
  UniqueFd from_browser_;
  UniqueFd wake_read_;
  UniqueFd wake_write_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::int32_t, Pending> pending_;      // guarded by mutex_
  std::map<std::string, Json> open_dialogs_;     // guarded by mutex_
  std::vector<std::weak_ptr<EventQueue>> queues_;  // guarded by mutex_
  std::string close_reason_;                     // guarded by mutex_
  std::int32_t next_id_ = 1;                     // guarded by mutex_
  std::uint64_t next_sequence_ = 1;              // reader thread only
  std::function<void(const CdpEvent&)> observer_;
  std::atomic<bool> closed_{false};

  std::mutex write_mutex_;  // one command on the pipe at a time
  std::thread reader_;
};

}  // namespace vesk::browser
