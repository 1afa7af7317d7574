#pragma once
// A ring of the newest entries a tracker keeps: at most `capacity`, the oldest dropped and
// counted, so a page that logs without end costs a fixed amount of memory. Not locked:
// the tracker that owns it guards it with its own mutex.

#include <cstdint>
#include <deque>
#include <vector>

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

}  // namespace vesk::browser
