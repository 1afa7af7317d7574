#pragma once
// What a registered browser connection offers to client threads: its job queue, and a
// way to retire the connection from another thread.
//
// Retiring closes the job queue (the connection's serving loop wakes and ends) and shuts
// the socket down, so a loop blocked in a read on a browser that never answers ends too.
// The serving thread owns the socket: it attaches the descriptor before serving and
// detaches it before closing, under the same lock as retire(), so a shutdown never hits
// a descriptor number that has been closed and reused.

#include <memory>
#include <mutex>
#include <string>
#include <variant>

#include "platform/socket.hpp"
#include "protocol/relayed_message.hpp"
#include "server/job_queue.hpp"

namespace vesk {

// The browser's answer, or the failure text of the connection (its error chain).
using JobReply = std::variant<RelayedMessage, std::string>;

struct Job {
  // The client's request, unchanged; shared by the browsers it is offered to in turn.
  std::shared_ptr<const RelayedMessage> request;
  ReplySender<JobReply> reply;
};

class BrowserLink {
 public:
  JobQueue<Job>& jobs() { return jobs_; }

  // Called by the serving thread only.
  void attach_socket(SocketHandle socket);
  void detach_socket();

  // Ends the connection's service: closes the queue and shuts the socket down. Idempotent.
  void retire();

 private:
  JobQueue<Job> jobs_;
  std::mutex socket_mutex_;
  SocketHandle socket_ = SocketHandle::invalid;  // guarded by socket_mutex_
  bool retired_ = false;  // guarded by socket_mutex_
};

}  // namespace vesk
