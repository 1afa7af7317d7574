#include "browser/trackers/screencast.hpp"

#include "browser/core/base64.hpp"

namespace vesk::browser {
namespace {

constexpr auto kCallTimeout = std::chrono::seconds(5);

}  // namespace

ScreencastTracker::ScreencastTracker(const TabTrackerContext& context)
    : client_(context.client), session_id_(context.session_id) {}

ScreencastTracker::~ScreencastTracker() {
  {
    std::lock_guard lock(mutex_);
    watchers_.clear();
    running_ = false;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

ScreencastTracker::Watch& ScreencastTracker::Watch::operator=(Watch&& other) noexcept {
  if (this != &other) {
    reset();
    tracker_ = std::exchange(other.tracker_, nullptr);
    id_ = other.id_;
  }
  return *this;
}

void ScreencastTracker::Watch::reset() {
  if (tracker_ != nullptr) std::exchange(tracker_, nullptr)->unwatch(id_);
}

void ScreencastTracker::on_event(const CdpEvent& event) {
  if (event.method != "Page.screencastFrame") return;
  {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    pending_ = event;
  }
  changed_.notify_all();
}

std::expected<ScreencastTracker::Watch, CdpFailure> ScreencastTracker::watch(Watcher watcher) {
  std::uint64_t id;
  bool start = false;
  {
    std::lock_guard lock(mutex_);
    id = next_id_++;
    watchers_[id] = std::move(watcher);
    if (!running_) {
      running_ = true;
      start = true;
    }
  }
  if (start) {
    if (worker_.joinable()) worker_.join();  // the one of an earlier screencast has ended
    worker_ = std::thread([this] { deliver_loop(); });
    auto started = client_.call("Page.startScreencast",
                                Json{{"format", "jpeg"}, {"quality", 80}, {"everyNthFrame", 1}},
                                CallOptions{session_id_, deadline_in(kCallTimeout), nullptr});
    if (!started) {
      unwatch(id);
      return std::unexpected(started.error());
    }
  }
  return Watch(this, id);
}

void ScreencastTracker::unwatch(std::uint64_t id) {
  bool stop = false;
  {
    // Waits for a delivery in progress: the watcher's owner may be about to die.
    std::lock_guard delivering(delivering_);
    std::lock_guard lock(mutex_);
    watchers_.erase(id);
    if (watchers_.empty() && running_) {
      running_ = false;
      pending_.reset();
      stop = true;
    }
  }
  if (!stop) return;
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
  (void)client_.call("Page.stopScreencast", Json::object(),
                     CallOptions{session_id_, deadline_in(kCallTimeout), nullptr});
}

void ScreencastTracker::deliver_loop() {
  for (;;) {
    CdpEvent event;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !running_ || pending_.has_value(); });
      if (!running_) return;
      event = std::move(*pending_);
      pending_.reset();
    }
    // Chromium sends the next frame only after this one is acknowledged.
    (void)client_.call("Page.screencastFrameAck", Json{{"sessionId", event.params.value("sessionId", 0)}},
                       CallOptions{session_id_, deadline_in(kCallTimeout), nullptr});
    auto jpeg = decode_base64(event.params.value("data", std::string()));
    if (!jpeg) continue;
    const Json& metadata = event.params.value("metadata", Json::object());
    ScreencastFrame frame{std::move(*jpeg), static_cast<int>(metadata.value("deviceWidth", 0.0)),
                          static_cast<int>(metadata.value("deviceHeight", 0.0))};
    std::lock_guard delivering(delivering_);
    std::map<std::uint64_t, Watcher> watchers;
    {
      std::lock_guard lock(mutex_);
      watchers = watchers_;
    }
    for (auto& [id, watcher] : watchers) watcher(frame);
  }
}

std::unique_ptr<TabTracker> make_screencast_tracker(const TabTrackerContext& context) {
  return std::make_unique<ScreencastTracker>(context);
}

}  // namespace vesk::browser
