#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "platform/memory.hpp"

namespace vesk {

void advise_huge_pages(void* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
  if (size < kLargeBufferBytes) return;
  static const auto page = static_cast<std::uintptr_t>(page_size());
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (start + page - 1) & ~(page - 1);
  const std::uintptr_t last = (start + size) & ~(page - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

std::size_t page_size() {
  static const auto size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

void* map_pages(std::size_t size) {
  void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return data == MAP_FAILED ? nullptr : data;
}

void unmap_pages(void* data, std::size_t size) { ::munmap(data, size); }

void* remap_pages(void* data, std::size_t old_size, std::size_t new_size, std::size_t /*keep*/) {
  // The kernel moves page table entries: no byte is copied, whatever the size.
  void* moved = ::mremap(data, old_size, new_size, MREMAP_MAYMOVE);
  return moved == MAP_FAILED ? nullptr : moved;
}

}  // namespace vesk
