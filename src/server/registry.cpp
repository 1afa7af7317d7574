#include "server/registry.hpp"

#include <utility>

namespace vesk {

std::vector<BrowserEntry> Registry::snapshot() const {
  std::lock_guard guard(mutex_);
  std::vector<BrowserEntry> copy;
  copy.reserve(entries_.size());
  for (const auto& [key, entry] : entries_) copy.push_back(entry);
  return copy;
}

void Registry::insert(BrowserEntry entry) {
  std::shared_ptr<BrowserLink> replaced;
  {
    std::lock_guard guard(mutex_);
    auto [it, inserted] = entries_.try_emplace(entry.key, entry);
    if (!inserted) {
      replaced = std::move(it->second.link);
      it->second = std::move(entry);
    }
  }
  if (replaced) replaced->retire();
}

bool Registry::remove(const BrowserEntry& entry) {
  bool removed = false;
  {
    std::lock_guard guard(mutex_);
    auto it = entries_.find(entry.key);
    if (it != entries_.end() && it->second.link == entry.link) {
      entries_.erase(it);
      removed = true;
    }
  }
  if (entry.link) entry.link->retire();
  return removed;
}

void Registry::retire_all() {
  std::unordered_map<std::string, BrowserEntry> all;
  {
    std::lock_guard guard(mutex_);
    all.swap(entries_);
  }
  for (auto& [key, entry] : all) entry.link->retire();
}

}  // namespace vesk
