// Moving finished downloads from the staging folder to their destinations, without a
// browser: the tracker is fed the events Chromium would send.
#include "browser/trackers/downloads.hpp"

#include <fstream>

#include <gtest/gtest.h>

#include "browser/test_support.hpp"

namespace vesk::browser {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;

// Chromium's events for a download that starts and completes, its file staged first.
void finish_download(Downloads& downloads, const std::string& guid, const std::string& name, const std::string& body) {
  std::ofstream(downloads.staging_dir() / guid, std::ios::binary) << body;
  downloads.observe({"Browser.downloadWillBegin", {{"guid", guid}, {"url", "http://x/" + name}, {"suggestedFilename", name}}, "", 0});
  downloads.observe({"Browser.downloadProgress",
                     {{"guid", guid}, {"state", "completed"}, {"receivedBytes", body.size()}, {"totalBytes", body.size()}}, "", 0});
}

struct Folders {
  TempDir dir;
  fs::path staging = dir.path() / "staging";
  fs::path fallback = dir.path() / "downloads";
  Folders() { fs::create_directories(staging); }
};

TEST(Downloads, UnclaimedDownloadsOfOneNameEachKeepTheirFile) {
  Folders folders;
  {
    Downloads downloads(folders.staging, folders.fallback);
    finish_download(downloads, "g1", "report.csv", "first");
    finish_download(downloads, "g2", "report.csv", "second");
    const DownloadState first = downloads.wait_for_end("g1", deadline_in(std::chrono::seconds(30)));
    const DownloadState second = downloads.wait_for_end("g2", deadline_in(std::chrono::seconds(30)));
    ASSERT_TRUE(first.moved) << first.move_error;
    ASSERT_TRUE(second.moved) << second.move_error;
    EXPECT_EQ(first.destination, folders.fallback / "report.csv");
    EXPECT_EQ(second.destination, folders.fallback / "report (1).csv");
  }
  EXPECT_EQ(read_file(folders.fallback / "report.csv"), "first");
  EXPECT_EQ(read_file(folders.fallback / "report (1).csv"), "second");
  EXPECT_FALSE(fs::exists(folders.staging / "g1"));
}

TEST(Downloads, AClaimedDownloadWaitsForItsDestinationAndEndsOnlyOnceMoved) {
  Folders folders;
  Downloads downloads(folders.staging, folders.fallback);
  downloads.claim(0);
  finish_download(downloads, "g1", "a.bin", "payload");
  EXPECT_TRUE(fs::exists(folders.staging / "g1"));  // nothing to move it to yet
  const fs::path wanted = folders.dir.path() / "out" / "mine.bin";
  downloads.set_destination("g1", wanted);
  const DownloadState ended = downloads.wait_for_end("g1", deadline_in(std::chrono::seconds(30)));
  ASSERT_TRUE(ended.moved) << ended.move_error;
  EXPECT_EQ(read_file(wanted), "payload");
}

TEST(Downloads, AMoveThatFailsSaysWhereAndWhy) {
  Folders folders;
  Downloads downloads(folders.staging, folders.fallback);
  downloads.claim(0);
  finish_download(downloads, "g1", "a.bin", "payload");
  std::ofstream(folders.dir.path() / "file") << "not a folder";
  downloads.set_destination("g1", folders.dir.path() / "file" / "a.bin");
  const DownloadState ended = downloads.wait_for_end("g1", deadline_in(std::chrono::seconds(30)));
  EXPECT_FALSE(ended.moved);
  EXPECT_NE(ended.move_error.find("failed to move the download to " + (folders.dir.path() / "file" / "a.bin").string()),
            std::string::npos)
      << ended.move_error;
}

TEST(Downloads, StoppingFinishesTheMovesAlreadyQueued) {
  Folders folders;
  {
    Downloads downloads(folders.staging, folders.fallback);
    finish_download(downloads, "g1", "late.txt", "kept");
  }
  EXPECT_EQ(read_file(folders.fallback / "late.txt"), "kept");
}

}  // namespace
}  // namespace vesk::browser
