#include "platform/file_lock.hpp"

#include <gtest/gtest.h>

#include "platform/process.hpp"

#include <atomic>
#include <thread>
#include <vector>

namespace vesk {
namespace {

using namespace std::chrono_literals;

std::filesystem::path temporary_lock_path() {
  return std::filesystem::temp_directory_path() / ("vesk-lock-test-" + std::to_string(current_pid()));
}

TEST(FileLock, OneHolderAtATimeAndATimedOutWaitSaysWhy) {
  const auto path = temporary_lock_path();
  {
    auto held = FileLock::acquire(path, 1s);
    ASSERT_TRUE(held) << held.error().text();
    auto second = FileLock::acquire(path, 50ms);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().kind(), ErrorKind::TimedOut);
    EXPECT_NE(second.error().text().find(path.string()), std::string::npos) << second.error().text();
  }
  // Released with the holder.
  EXPECT_TRUE(FileLock::acquire(path, 50ms));

  // Threads that each open the file on their own exclude one another.
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      for (int round = 0; round < 20; ++round) {
        auto lock = FileLock::acquire(path, 30s);
        ASSERT_TRUE(lock);
        most = std::max(most.load(), ++inside);
        std::this_thread::yield();
        --inside;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(most.load(), 1);
  std::filesystem::remove(path);
}

TEST(FileLock, AFileThatCannotBeCreatedIsAnError) {
  auto lock = FileLock::acquire("/nonexistent-dir/state.lock", 1s);
  ASSERT_FALSE(lock);
  EXPECT_NE(lock.error().text().find("/nonexistent-dir/state.lock"), std::string::npos);
}

}  // namespace
}  // namespace vesk
