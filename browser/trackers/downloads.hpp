#pragma once
// Downloads as Chromium reports them (Browser.downloadWillBegin, Browser.downloadProgress).
// Chromium saves each download in our staging folder under its guid ("allowAndName"); once
// it is complete the file is moved to the destination that the download method chose.
// Fed from the transport's reader thread; read by the serving thread.

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "browser/chromium/devtools_client.hpp"

namespace vesk::browser {

struct DownloadState {
  std::string guid;
  std::string url;
  std::string suggested_filename;
  std::string state = "inProgress";  // "inProgress", "completed", "canceled"
  std::uint64_t received_bytes = 0;
  std::uint64_t total_bytes = 0;
  std::filesystem::path destination;  // where the file goes once complete; empty: not yet chosen
  bool claimed = false;               // a download method will choose the destination
  std::string move_error;             // why moving it there failed, if it did
};

class Downloads {
 public:
  // Downloads nobody claimed (a click on a download link) end up in `default_dir` under
  // their suggested name.
  Downloads(std::filesystem::path staging_dir, std::filesystem::path default_dir)
      : staging_dir_(std::move(staging_dir)), default_dir_(std::move(default_dir)) {}

  // Takes Browser.download* events (called on the reader thread).
  void observe(const CdpEvent& event);
  // How many downloads have begun so far.
  std::size_t started_count();
  // Reserves the download that will begin as number `index` for the caller, who then
  // chooses its destination with set_destination.
  void claim(std::size_t index);
  // The download that began as number `index` (0-based, in start order), waiting for it
  // until the deadline.
  std::optional<DownloadState> wait_for_start(std::size_t index, Deadline deadline);
  // Sets where the finished file goes; moves it at once if it is already complete.
  void set_destination(const std::string& guid, const std::filesystem::path& destination);
  // Waits until the download is completed or canceled (or the deadline passes).
  DownloadState wait_for_end(const std::string& guid, Deadline deadline);
  [[nodiscard]] const std::filesystem::path& staging_dir() const { return staging_dir_; }

 private:
  void move_if_ready(DownloadState& download);  // needs mutex_ held

  std::filesystem::path staging_dir_;
  std::filesystem::path default_dir_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, DownloadState> downloads_;           // guarded by mutex_
  std::vector<std::string> started_;                          // guarded by mutex_
  std::vector<std::size_t> claimed_indexes_;                  // guarded by mutex_
};

}  // namespace vesk::browser
