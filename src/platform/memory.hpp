#pragma once
// Hints to the virtual memory system for large buffers.

#include <cstddef>

namespace vesk {

// Buffers this large or larger are worth a hint.
inline constexpr std::size_t kLargeBufferBytes = 4 * 1024 * 1024;

// Asks for huge pages behind a large buffer that is about to be filled, so that filling it
// takes one page fault per 2 MiB instead of one per 4 KiB (on virtual machines a fault can
// cost tens of microseconds). Only whole pages inside [data, data + size) are affected.
// A hint: it may be ignored, and it never fails.
void advise_huge_pages(void* data, std::size_t size);

}  // namespace vesk
