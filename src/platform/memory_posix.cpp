#include "platform/memory.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace vesk {

void advise_huge_pages(void* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
  if (size < kLargeBufferBytes) return;
  static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (start + page - 1) & ~(page - 1);
  const std::uintptr_t last = (start + size) & ~(page - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

}  // namespace vesk
