#pragma once
// A ring of the newest entries a tracker keeps: at most `capacity`, the oldest dropped and
// counted, so a page that logs without end costs a fixed amount of memory. BoundedLog is
// not locked; LogTracker is a tab tracker whose events feed one, under its own lock.

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "browser/trackers/tab_tracker.hpp"

namespace vesk::browser {

template <class Entry>
class BoundedLog {
 public:
  explicit BoundedLog(std::size_t capacity) : capacity_(capacity) {}

  void push(Entry entry) {
    if (entries_.size() == capacity_) {
      entries_.pop_front();
      ++dropped_;
    }
    entries_.push_back(std::move(entry));
  }
  // Removes the entries `matches` picks; they do not count as dropped.
  template <class Predicate>
  void remove_if(Predicate matches) {
    std::erase_if(entries_, matches);
  }
  void clear() {
    entries_.clear();
    dropped_ = 0;
  }
  [[nodiscard]] const std::deque<Entry>& entries() const { return entries_; }
  // How many entries were dropped to make room since the last clear.
  [[nodiscard]] std::uint64_t dropped() const { return dropped_; }
  [[nodiscard]] std::size_t capacity() const { return capacity_; }

 private:
  std::size_t capacity_;
  std::deque<Entry> entries_;
  std::uint64_t dropped_ = 0;
};

// A tab tracker whose events feed one bounded log: on_event (reader thread) adds and
// removes entries, read (serving thread) copies them out.
template <class Entry>
class LogTracker : public TabTracker {
 public:
  explicit LogTracker(std::size_t capacity) : log_(capacity) {}

  struct Contents {
    std::vector<Entry> entries;  // oldest first
    std::uint64_t dropped = 0;
  };
  // What is kept now; with `clear`, the log is emptied after reading.
  Contents read(bool clear) {
    std::lock_guard lock(mutex_);
    Contents contents{{log_.entries().begin(), log_.entries().end()}, log_.dropped()};
    if (clear) log_.clear();
    return contents;
  }

 protected:
  void add(Entry entry) {
    std::lock_guard lock(mutex_);
    log_.push(std::move(entry));
  }
  template <class Predicate>
  void remove_if(Predicate matches) {
    std::lock_guard lock(mutex_);
    log_.remove_if(matches);
  }

 private:
  std::mutex mutex_;
  BoundedLog<Entry> log_;  // guarded by mutex_
};

}  // namespace vesk::browser
