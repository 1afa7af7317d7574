#pragma once
// The live view of a handed-off tab: a small HTTP server on 127.0.0.1 at a port the
// system picks, everything under one unguessable path (/{token}/). Anyone without the
// address gets 404; connections from other users of the machine are closed unread.
//
//   GET  /{token}/          the page (live_view.html): the tab, the message, "Done"
//   GET  /{token}/status    {"state", "message"}
//   GET  /{token}/frame?after=N   the newest screencast frame (JPEG) once its number is
//                           above N, waiting up to 10 s; 204 when none came
//   POST /{token}/input     a JSON array of input events for the tab
//   POST /{token}/done      the person gives the tab back
//
// Threads: one accepting thread and one per connection (at most kMaxConnections at once);
// the callbacks run on connection threads. The destructor ends every connection and waits
// until its thread has left.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/error.hpp"
#include "base/json.hpp"
#include "platform/socket.hpp"

namespace vesk::browser {

class LiveViewServer {
 public:
  struct Callbacks {
    std::function<void(const Json& events)> input;  // an array of events from the page
    std::function<void()> done;                     // the person pressed "Done"
  };

  static constexpr int kMaxConnections = 32;

  static Result<std::unique_ptr<LiveViewServer>> start(std::string message, Callbacks callbacks);
  ~LiveViewServer();
  LiveViewServer(const LiveViewServer&) = delete;
  LiveViewServer& operator=(const LiveViewServer&) = delete;

  // "http://127.0.0.1:{port}/{token}/".
  const std::string& url() const { return url_; }

  // A new frame of the tab and the tab's size in CSS pixels (for mapping clicks).
  void show_frame(std::string jpeg, int css_width, int css_height);
  // What the page shows: "handedOff", "returned", "resumed".
  void set_state(std::string state);

 private:
  LiveViewServer(TcpListener listener, std::string token, std::string url, std::string message, Callbacks callbacks);
  void accept_loop();
  void serve_connection(UniqueSocket connection);
  std::string respond(const struct HttpRequest& request);
  void stop();

  TcpListener listener_;
  const std::string token_;
  const std::string url_;
  const Callbacks callbacks_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::string message_;           // guarded by mutex_
  std::string state_ = "handedOff";  // guarded by mutex_
  std::string frame_;             // guarded by mutex_
  std::uint64_t frame_seq_ = 0;   // guarded by mutex_
  int css_width_ = 0;             // guarded by mutex_
  int css_height_ = 0;            // guarded by mutex_
  bool stopping_ = false;         // guarded by mutex_
  int connections_ = 0;           // guarded by mutex_
  std::vector<SocketHandle> open_sockets_;  // guarded by mutex_; shut down on stop to end reads
  std::thread acceptor_;
};

}  // namespace vesk::browser
