#pragma once
// The two queues that connect client threads with a browser connection's thread.
//
// JobQueue<T>: unbounded, first in first out, many senders, one receiver. The receiver
// closes it when it stops serving (or whoever retires the browser connection does);
// after that push() reports "no receiver" and pop() returns nothing, so a sender never
// waits for a connection that is gone.
//
// Reply channel: one value at most, from one sender to one waiter, with a timed wait.
// The waiter tells apart "answered", "timed out" and "closed without an answer" (the
// sender was dropped, e.g. with a job queue that closed); the sender learns when the
// waiter has given up ("requester gone") because send() returns false.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace vesk {

template <class T>
class JobQueue {
 public:
  // False when the queue is closed: nobody will ever take the item.
  bool push(T item) {
    {
      std::lock_guard guard(mutex_);
      if (closed_) return false;
      items_.push_back(std::move(item));
    }
    ready_.notify_one();
    return true;
  }

  // Waits without limit for the next item; nothing once the queue is closed.
  std::optional<T> pop() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return closed_ || !items_.empty(); });
    if (closed_) return std::nullopt;
    T item = std::move(items_.front());
    items_.pop_front();
    return item;
  }

  // Idempotent. Items still queued are dropped (destroyed), which closes their replies.
  void close() {
    std::deque<T> dropped;
    {
      std::lock_guard guard(mutex_);
      closed_ = true;
      dropped.swap(items_);
    }
    ready_.notify_all();
  }

  bool closed() const {
    std::lock_guard guard(mutex_);
    return closed_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<T> items_;  // guarded by mutex_
  bool closed_ = false;  // guarded by mutex_
};

namespace detail {
template <class T>
struct ReplySlot {
  std::mutex mutex;
  std::condition_variable ready;
  std::optional<T> value;       // guarded by mutex
  bool sender_gone = false;     // guarded by mutex
  bool receiver_gone = false;   // guarded by mutex
};
}  // namespace detail

template <class T>
class ReplySender {
 public:
  explicit ReplySender(std::shared_ptr<detail::ReplySlot<T>> slot) : slot_(std::move(slot)) {}
  ReplySender(ReplySender&&) noexcept = default;
  ReplySender& operator=(ReplySender&& other) noexcept {
    if (this != &other) {
      release();
      slot_ = std::move(other.slot_);
    }
    return *this;
  }
  ReplySender(const ReplySender&) = delete;
  ReplySender& operator=(const ReplySender&) = delete;
  ~ReplySender() { release(); }

  // Delivers the one value. False when the waiter has already given up.
  bool send(T value) {
    if (!slot_) return false;
    bool delivered = false;
    {
      std::lock_guard guard(slot_->mutex);
      if (!slot_->receiver_gone && !slot_->value) {
        slot_->value = std::move(value);
        delivered = true;
      }
    }
    slot_->ready.notify_all();
    return delivered;
  }

 private:
  // A sender that goes away without sending closes the channel for the waiter.
  void release() {
    if (!slot_) return;
    {
      std::lock_guard guard(slot_->mutex);
      slot_->sender_gone = true;
    }
    slot_->ready.notify_all();
    slot_.reset();
  }
  std::shared_ptr<detail::ReplySlot<T>> slot_;
};

enum class ReplyStatus { Answered, TimedOut, Closed };

template <class T>
struct ReplyOutcome {
  ReplyStatus status;
  std::optional<T> value;  // set when Answered
};

template <class T>
class ReplyReceiver {
 public:
  explicit ReplyReceiver(std::shared_ptr<detail::ReplySlot<T>> slot) : slot_(std::move(slot)) {}
  ReplyReceiver(ReplyReceiver&&) noexcept = default;
  ReplyReceiver(const ReplyReceiver&) = delete;
  ReplyReceiver& operator=(const ReplyReceiver&) = delete;
  // Giving up: a later send() reports the requester as gone.
  ~ReplyReceiver() {
    if (!slot_) return;
    std::lock_guard guard(slot_->mutex);
    slot_->receiver_gone = true;
  }

  ReplyOutcome<T> wait_for(std::chrono::steady_clock::duration timeout) {
    std::unique_lock lock(slot_->mutex);
    bool settled = slot_->ready.wait_for(lock, timeout, [&] {
      return slot_->value.has_value() || slot_->sender_gone;
    });
    if (slot_->value) {
      // Taken once; the slot stays "answered" for the sender's sake.
      ReplyOutcome<T> outcome{ReplyStatus::Answered, std::move(slot_->value)};
      slot_->receiver_gone = true;
      return outcome;
    }
    return {settled ? ReplyStatus::Closed : ReplyStatus::TimedOut, std::nullopt};
  }

 private:
  std::shared_ptr<detail::ReplySlot<T>> slot_;
};

template <class T>
std::pair<ReplySender<T>, ReplyReceiver<T>> make_reply_channel() {
  auto slot = std::make_shared<detail::ReplySlot<T>>();
  return {ReplySender<T>(slot), ReplyReceiver<T>(slot)};
}

}  // namespace vesk
