#include "browser/trackers/downloads.hpp"

#include <algorithm>
#include <system_error>

namespace vesk::browser {

Downloads::Downloads(std::filesystem::path staging_dir, std::filesystem::path default_dir)
    : staging_dir_(std::move(staging_dir)), default_dir_(std::move(default_dir)) {
  mover_ = std::thread([this] { run_mover(); });
}

Downloads::~Downloads() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  mover_.join();
}

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
  if (download.state != "completed" || download.moved) return;
  if (download.destination.empty() && download.claimed) return;  // its method sets the destination
  if (std::find(to_move_.begin(), to_move_.end(), download.guid) != to_move_.end()) return;
  to_move_.push_back(download.guid);
  changed_.notify_all();
}

std::filesystem::path Downloads::default_destination(const std::string& suggested_filename) const {
  std::string name = std::filesystem::path(suggested_filename).filename().string();
  if (name.empty() || name == "." || name == "..") name = "download.bin";
  auto destination = default_dir_ / name;
  std::error_code exists_ec;
  for (int n = 1; std::filesystem::exists(destination, exists_ec); ++n) {
    const auto stem = std::filesystem::path(name).stem().string();
    const auto extension = std::filesystem::path(name).extension().string();
    destination = default_dir_ / (stem + " (" + std::to_string(n) + ")" + extension);
  }
  return destination;
}

std::string Downloads::move_file(const std::filesystem::path& staged, const std::filesystem::path& destination) {
  std::error_code ec;
  std::filesystem::create_directories(destination.parent_path(), ec);
  std::filesystem::rename(staged, destination, ec);
  if (!ec) return "";
  // Another file system: copy, then drop the staged file.
  std::error_code copy_ec;
  std::filesystem::copy_file(staged, destination, std::filesystem::copy_options::overwrite_existing, copy_ec);
  if (copy_ec) return "failed to move the download to " + destination.string() + ": " + copy_ec.message();
  std::filesystem::remove(staged, ec);
  return "";
}

void Downloads::run_mover() {
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [&] { return stopping_ || !to_move_.empty(); });
    // Queued moves finish before the thread ends: a completed download is never left
    // behind in the staging folder.
    if (to_move_.empty()) return;
    const std::string guid = to_move_.front();
    to_move_.erase(to_move_.begin());
    const std::filesystem::path chosen = downloads_[guid].destination;
    const std::string suggested = downloads_[guid].suggested_filename;
    lock.unlock();
    // An unclaimed download gets a free name in the default folder here: this thread is
    // the only one that moves files there, so two downloads of one name cannot both take it.
    const std::filesystem::path destination = chosen.empty() ? default_destination(suggested) : chosen;
    const std::string error = move_file(staging_dir_ / guid, destination);
    lock.lock();
    DownloadState& download = downloads_[guid];
    download.destination = destination;
    download.moved = error.empty();
    download.move_error = error;
    changed_.notify_all();
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
  changed_.wait_until(lock, deadline, [&] {
    const DownloadState& download = downloads_[guid];
    if (download.state == "completed") return download.moved || !download.move_error.empty();
    return download.state != "inProgress";
  });
  return downloads_[guid];
}

}  // namespace vesk::browser
