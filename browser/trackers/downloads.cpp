#include "browser/trackers/downloads.hpp"

#include <algorithm>
#include <system_error>

namespace vesk::browser {

void Downloads::observe(const CdpEvent& event) {
  if (event.method != "Browser.downloadWillBegin" && event.method != "Browser.downloadProgress") return;
  const std::string guid = event.params.value("guid", "");
  if (guid.empty()) return;
  {
    std::lock_guard lock(mutex_);
    DownloadState& download = downloads_[guid];
    download.guid = guid;
    if (event.method == "Browser.downloadWillBegin") {
      download.url = event.params.value("url", "");
      download.suggested_filename = event.params.value("suggestedFilename", "");
      started_.push_back(guid);
      const std::size_t index = started_.size() - 1;
      download.claimed = std::find(claimed_indexes_.begin(), claimed_indexes_.end(), index) != claimed_indexes_.end();
    } else {
      download.state = event.params.value("state", download.state);
      download.received_bytes = event.params.value("receivedBytes", std::uint64_t{0});
      download.total_bytes = event.params.value("totalBytes", std::uint64_t{0});
      move_if_ready(download);
    }
  }
  changed_.notify_all();
}

void Downloads::move_if_ready(DownloadState& download) {
  if (download.state != "completed") return;
  if (download.destination.empty()) {
    if (download.claimed) return;  // its method sets the destination
    std::string name = std::filesystem::path(download.suggested_filename).filename().string();
    if (name.empty() || name == "." || name == "..") name = "download.bin";
    download.destination = default_dir_ / name;
    std::error_code exists_ec;
    for (int n = 1; std::filesystem::exists(download.destination, exists_ec); ++n) {
      const auto stem = std::filesystem::path(name).stem().string();
      const auto extension = std::filesystem::path(name).extension().string();
      download.destination = default_dir_ / (stem + " (" + std::to_string(n) + ")" + extension);
    }
  }
  const auto staged = staging_dir_ / download.guid;
  std::error_code ec;
  if (!std::filesystem::exists(staged, ec)) return;  // moved already
  std::filesystem::create_directories(download.destination.parent_path(), ec);
  std::filesystem::rename(staged, download.destination, ec);
  if (ec) {
    // Another file system: copy, then drop the staged file.
    std::error_code copy_ec;
    std::filesystem::copy_file(staged, download.destination, std::filesystem::copy_options::overwrite_existing, copy_ec);
    if (copy_ec) {
      download.move_error = "failed to move the download to " + download.destination.string() + ": " + copy_ec.message();
      return;
    }
    std::filesystem::remove(staged, ec);
  }
}

void Downloads::claim(std::size_t index) {
  std::lock_guard lock(mutex_);
  claimed_indexes_.push_back(index);
}

std::size_t Downloads::started_count() {
  std::lock_guard lock(mutex_);
  return started_.size();
}

std::optional<DownloadState> Downloads::wait_for_start(std::size_t index, Deadline deadline) {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_until(lock, deadline, [&] { return started_.size() > index; })) return std::nullopt;
  return downloads_[started_[index]];
}

void Downloads::set_destination(const std::string& guid, const std::filesystem::path& destination) {
  std::lock_guard lock(mutex_);
  DownloadState& download = downloads_[guid];
  download.destination = destination;
  move_if_ready(download);
}

DownloadState Downloads::wait_for_end(const std::string& guid, Deadline deadline) {
  std::unique_lock lock(mutex_);
  changed_.wait_until(lock, deadline, [&] { return downloads_[guid].state != "inProgress"; });
  return downloads_[guid];
}

}  // namespace vesk::browser
