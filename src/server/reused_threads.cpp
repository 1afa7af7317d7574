#include "server/reused_threads.hpp"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace vesk {

namespace {

using namespace std::chrono_literals;

// How long a finished thread waits for more work before it ends: long enough to carry a
// burst of commands, short enough that an idle server keeps few threads.
constexpr auto kIdleLifetime = 10s;

class ThreadKeeper {
 public:
  Status run(std::function<void()> work) {
    {
      std::lock_guard guard(mutex_);
      if (idle_ > waiting_.size()) {
        waiting_.push_back(std::move(work));
        ready_.notify_one();
        return {};
      }
    }
    try {
      std::thread([this, first = std::move(work)]() mutable { serve(std::move(first)); }).detach();
      return {};
    } catch (const std::system_error& e) {
      return fail(Error(e.what()).wrap("failed to spawn thread"));
    }
  }

  std::size_t idle() {
    std::lock_guard guard(mutex_);
    return idle_;
  }

 private:
  void serve(std::function<void()> work) {
    while (work) {
      work();
      work = nullptr;  // what it holds (a connection's context) goes now, not with the next work
      work = next();
    }
  }

  // The next piece of work, or nothing once none came within the idle lifetime.
  std::function<void()> next() {
    std::unique_lock lock(mutex_);
    ++idle_;
    ready_.wait_for(lock, kIdleLifetime, [&] { return !waiting_.empty(); });
    --idle_;
    if (waiting_.empty()) return {};
    std::function<void()> work = std::move(waiting_.front());
    waiting_.pop_front();
    return work;
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> waiting_;  // guarded by mutex_
  std::size_t idle_ = 0;                        // threads waiting in next(); guarded by mutex_
};

ThreadKeeper& keeper() {
  // Never destroyed: kept threads may still wait on it while the process exits.
  static ThreadKeeper* const kept = new ThreadKeeper;
  return *kept;
}

}  // namespace

Status run_on_reused_thread(std::function<void()> work) { return keeper().run(std::move(work)); }

std::size_t idle_reused_threads() { return keeper().idle(); }

}  // namespace vesk
