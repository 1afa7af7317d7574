#include "server/reused_threads.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace vesk {
namespace {

using namespace std::chrono_literals;

// Pieces of work that each wait until all of them are running at once: they can finish only
// when every one has a thread to itself.
class Rendezvous {
 public:
  explicit Rendezvous(int expected) : expected_(expected) {}

  void arrive_and_wait() {
    std::unique_lock lock(mutex_);
    ++arrived_;
    changed_.notify_all();
    if (!changed_.wait_for(lock, 10s, [&] { return arrived_ >= expected_; })) gave_up_ = true;
    ++finished_;
    changed_.notify_all();
  }

  bool all_finished_within(std::chrono::seconds wait) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, wait, [&] { return finished_ == expected_ && arrived_ == expected_; });
  }

  // False when a piece of work waited in vain for the others to run beside it.
  bool all_met() {
    std::lock_guard guard(mutex_);
    return !gave_up_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  const int expected_;
  int arrived_ = 0;
  int finished_ = 0;
  bool gave_up_ = false;
};

TEST(ReusedThreads, EveryPieceOfWorkRunsBesideTheOthersWhetherThreadsAreNewOrKept) {
  // Later rounds find fewer threads idle than they bring pieces of work: the kept threads
  // take some and new threads the rest, never two pieces behind one thread.
  for (int round = 0; round < 3; ++round) {
    const int pieces = 1 + 2 * round;
    auto meeting = std::make_shared<Rendezvous>(pieces);
    for (int i = 0; i < pieces; ++i) {
      ASSERT_TRUE(run_on_reused_thread([meeting] { meeting->arrive_and_wait(); }));
    }
    ASSERT_TRUE(meeting->all_finished_within(120s)) << "round " << round;
    EXPECT_TRUE(meeting->all_met()) << "round " << round << ": a piece of work waited behind another";
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (idle_reused_threads() < static_cast<std::size_t>(pieces) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
  }
}

}  // namespace
}  // namespace vesk
