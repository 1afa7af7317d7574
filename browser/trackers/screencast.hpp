#pragma once
// A tab's screencast: the frames Chromium paints, for whoever watches the tab (the live
// view of a handoff, a video recording). Chromium sends a frame only when the page changes
// and sends the next one only after the previous is acknowledged, so a watcher that is slow
// lowers the frame rate instead of piling frames up.
//
// Threads: on_event (the DevTools reader thread) only queues the newest frame; a worker
// thread acknowledges it and hands the decoded image to every watcher, one at a time.
// watch() and the Watch handle's destruction run on the serving thread; dropping a handle
// waits for a delivery to it that is in progress, so a watcher's state may die with it.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "browser/trackers/tab_tracker.hpp"

namespace vesk::browser {

struct ScreencastFrame {
  std::string jpeg;          // the image
  int css_width = 0;         // the viewport in CSS pixels (for mapping input)
  int css_height = 0;
};

class ScreencastTracker : public TabTracker {
 public:
  using Watcher = std::function<void(const ScreencastFrame&)>;

  explicit ScreencastTracker(const TabTrackerContext& context);
  ~ScreencastTracker() override;

  void on_event(const CdpEvent& event) override;

  // Removes its watcher when dropped; the screencast stops with the last one.
  class Watch {
   public:
    Watch() = default;
    Watch(ScreencastTracker* tracker, std::uint64_t id) : tracker_(tracker), id_(id) {}
    Watch(Watch&& other) noexcept : tracker_(std::exchange(other.tracker_, nullptr)), id_(other.id_) {}
    Watch& operator=(Watch&& other) noexcept;
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
    ~Watch() { reset(); }
    void reset();

   private:
    ScreencastTracker* tracker_ = nullptr;
    std::uint64_t id_ = 0;
  };

  // Starts the screencast if it is not running and adds the watcher.
  std::expected<Watch, CdpFailure> watch(Watcher watcher);

 private:
  void unwatch(std::uint64_t id);
  void deliver_loop();

  DevToolsClient& client_;
  const std::string session_id_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<CdpEvent> pending_;            // guarded by mutex_: the newest unacknowledged frame
  std::map<std::uint64_t, Watcher> watchers_;  // guarded by mutex_
  std::uint64_t next_id_ = 1;                  // guarded by mutex_
  bool running_ = false;                       // guarded by mutex_: the worker runs
  std::mutex delivering_;                      // held while watchers are called
  std::thread worker_;
};

std::unique_ptr<TabTracker> make_screencast_tracker(const TabTrackerContext& context);

}  // namespace vesk::browser
