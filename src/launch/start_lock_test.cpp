#include "launch/start_lock.hpp"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <fstream>

#include "platform/files.hpp"

namespace vesk {
namespace {

class StartLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto root = create_temporary_directory("vesk-lock-");
    ASSERT_TRUE(root) << root.error().text();
    root_ = *root;
    data_dir_ = root_ / "nested" / "data";
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  std::filesystem::path root_;
  std::filesystem::path data_dir_;
};

TEST_F(StartLockTest, CreatesPrivateDataDirAndRemovesFileOnRelease) {
  {
    auto lock = acquire_start_lock(data_dir_);
    ASSERT_TRUE(lock.has_value()) << lock.error().text();
    EXPECT_EQ(lock->path(), data_dir_ / "server-start.lock");
    EXPECT_TRUE(std::filesystem::exists(lock->path()));
#ifndef _WIN32  // POSIX modes; on Windows the data directory's access list applies
    struct stat info {};
    ASSERT_EQ(::stat(data_dir_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
#endif
  }
  EXPECT_FALSE(std::filesystem::exists(data_dir_ / "server-start.lock"));
  // Free again: taken at once.
  auto again = acquire_start_lock(data_dir_);
  ASSERT_TRUE(again.has_value());
}

TEST_F(StartLockTest, ReleaseLeavesALockTakenOverByAnotherProcess) {
  auto lock = acquire_start_lock(data_dir_);
  ASSERT_TRUE(lock.has_value());
  // Another process decided our lock was abandoned, removed it as a takeover does and made
  // its own, while ours is still open.
  ASSERT_TRUE(remove_file(lock->path()));
  std::ofstream(lock->path()).put('x');
  ASSERT_TRUE(std::filesystem::exists(lock->path()));
  lock->release();
  EXPECT_TRUE(std::filesystem::exists(data_dir_ / "server-start.lock"));
}

TEST_F(StartLockTest, FailuresNameWhatFailed) {
  // The data directory's place is taken by a file.
  const auto plain_file = root_ / "plain-file";
  std::ofstream(plain_file).put('x');
  auto under_file = acquire_start_lock(plain_file / "data");
  ASSERT_FALSE(under_file.has_value());
  EXPECT_NE(under_file.error().text().find("failed to create directory"), std::string::npos)
      << under_file.error().text();

  // A data directory we may not write into.
#ifdef _WIN32
  GTEST_SKIP() << "a read-only directory still admits new files on Windows";
#else
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
#endif
  std::filesystem::create_directories(data_dir_);
  std::filesystem::permissions(data_dir_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  auto read_only = acquire_start_lock(data_dir_);
  std::filesystem::permissions(data_dir_, std::filesystem::perms::owner_all);
  ASSERT_FALSE(read_only.has_value());
  EXPECT_EQ(read_only.error().messages().front(),
            "failed to create server start lock " + (data_dir_ / "server-start.lock").string());
}

}  // namespace
}  // namespace vesk
