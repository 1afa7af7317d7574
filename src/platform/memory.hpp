#pragma once
// Memory straight from the virtual memory system, for large buffers: whole pages mapped,
// grown and given back, and hints about how to back them.

#include <cstddef>

namespace vesk {

// Buffers this large or larger are worth a hint.
inline constexpr std::size_t kLargeBufferBytes = 4 * 1024 * 1024;

// Asks for huge pages behind a large buffer that is about to be filled, so that filling it
// takes one page fault per 2 MiB instead of one per 4 KiB (on virtual machines a fault can
// cost tens of microseconds). Only whole pages inside [data, data + size) are affected.
// A hint: it may be ignored, and it never fails.
void advise_huge_pages(void* data, std::size_t size);

// The size of a page; mappings come in whole pages.
std::size_t page_size();
// `size` bytes (a multiple of page_size()) of zeroed, writable memory; nullptr when the
// system has none to give.
void* map_pages(std::size_t size);
void unmap_pages(void* data, std::size_t size);
// Grows or shrinks a mapping, keeping its first `keep` bytes; it may move. nullptr when
// memory runs out, and the old mapping is then unchanged.
void* remap_pages(void* data, std::size_t old_size, std::size_t new_size, std::size_t keep);

}  // namespace vesk
