#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/memory.hpp"

namespace vesk {

// Large pages need a privilege ordinary users lack: no hint to give.
void advise_huge_pages(void* /*data*/, std::size_t /*size*/) {}

std::size_t page_size() {
  static const std::size_t size = [] {
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    return static_cast<std::size_t>(info.dwPageSize);
  }();
  return size;
}

void* map_pages(std::size_t size) { return ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE); }

void unmap_pages(void* data, std::size_t /*size*/) { ::VirtualFree(data, 0, MEM_RELEASE); }

void* remap_pages(void* data, std::size_t /*old_size*/, std::size_t new_size, std::size_t keep) {
  // No remapping in place here: a new mapping, and the kept bytes copied over.
  void* moved = map_pages(new_size);
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, data, std::min(keep, new_size));
  ::VirtualFree(data, 0, MEM_RELEASE);
  return moved;
}

}  // namespace vesk
