#pragma once
// The browser connections that can take requests, keyed by the instance id announced in
// their hello. Shared by every connection thread; one mutex, held only to copy, insert
// or remove entries (never during network I/O or while waiting on a queue).
//
// Each entry carries its own BrowserLink; identity of the link tells an entry apart from
// a newer one registered later under the same key, so removing "this entry" never takes
// out its replacement. Whatever leaves the registry is retired, which ends its serving
// loop.

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "server/browser_link.hpp"

namespace vesk {

struct BrowserEntry {
  std::string key;
  bool shared = false;  // accepted as a shared tab (instance unknown to the state)
  std::shared_ptr<BrowserLink> link;
};

class Registry {
 public:
  // A copy of every entry, in the map's iteration order (the order browsers are tried).
  std::vector<BrowserEntry> snapshot() const;

  // Registers under entry.key; an entry already there is replaced and retired.
  void insert(BrowserEntry entry);

  // Removes the entry only if the one under its key is still this very entry; retires it
  // in any case. True when it was removed here.
  bool remove(const BrowserEntry& entry);

  // Retires and removes everything (an in-process server that stops).
  void retire_all();

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::string, BrowserEntry> entries_;  // guarded by mutex_
};

}  // namespace vesk
