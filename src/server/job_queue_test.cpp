#include "server/job_queue.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace vesk {
namespace {

using namespace std::chrono_literals;

TEST(JobQueue, KeepsOrderAndRefusesOnceClosed) {
  JobQueue<int> queue;
  EXPECT_TRUE(queue.push(1));
  EXPECT_TRUE(queue.push(2));
  EXPECT_EQ(queue.pop(), 1);
  EXPECT_EQ(queue.pop(), 2);
  queue.close();
  EXPECT_FALSE(queue.push(3)) << "a closed queue has no receiver";
  EXPECT_EQ(queue.pop(), std::nullopt);
}

TEST(JobQueue, CloseWakesAWaitingReceiver) {
  JobQueue<int> queue;
  std::optional<int> got = 7;
  std::thread receiver([&] { got = queue.pop(); });
  queue.close();
  receiver.join();
  EXPECT_EQ(got, std::nullopt);
}

TEST(JobQueue, ClosingDropsQueuedItemsWhichClosesTheirReplies) {
  JobQueue<ReplySender<std::string>> queue;
  auto [sender, receiver] = make_reply_channel<std::string>();
  ASSERT_TRUE(queue.push(std::move(sender)));
  queue.close();
  EXPECT_EQ(receiver.wait_for(30s).status, ReplyStatus::Closed);
}

TEST(ReplyChannel, DeliversOneAnswerAcrossThreads) {
  auto [sender, receiver] = make_reply_channel<std::string>();
  std::thread answering([s = std::move(sender)]() mutable { EXPECT_TRUE(s.send("answer")); });
  auto outcome = receiver.wait_for(30s);
  answering.join();
  ASSERT_EQ(outcome.status, ReplyStatus::Answered);
  EXPECT_EQ(outcome.value, "answer");
}

TEST(ReplyChannel, WaitRunsOutWhileTheSenderStillHoldsIt) {
  auto [sender, receiver] = make_reply_channel<std::string>();
  EXPECT_EQ(receiver.wait_for(1ms).status, ReplyStatus::TimedOut);
  EXPECT_TRUE(sender.send("late")) << "the waiter still exists, so the answer is taken";
}

TEST(ReplyChannel, SenderLearnsThatTheRequesterIsGone) {
  auto [sender, receiver] = make_reply_channel<std::string>();
  { auto gone = std::move(receiver); }
  EXPECT_FALSE(sender.send("nobody listens"));
}

}  // namespace
}  // namespace vesk
