#include "platform/byte_buffer.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/memory.hpp"

namespace vesk {

namespace {

// Large buffers are mappings of their own, so that growing one moves page table entries
// (where the system can) instead of copying bytes, and so that huge pages can back them.
constexpr std::size_t kMappedBytes = kLargeBufferBytes;

void* map_bytes(std::size_t size) {
  void* data = map_pages(size);
  if (data != nullptr) advise_huge_pages(data, size);
  return data;
}

}  // namespace

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

ByteBuffer::~ByteBuffer() { release(); }

void ByteBuffer::release() {
  if (capacity_ >= kMappedBytes) {
    unmap_pages(data_, capacity_);
  } else {
    std::free(data_);
  }
  data_ = nullptr;
  size_ = capacity_ = 0;
}

bool ByteBuffer::reallocate(std::size_t capacity) {
  const bool was_mapped = capacity_ >= kMappedBytes;
  const bool mapped = capacity >= kMappedBytes;
  // Mappings come in whole pages, and remapping wants the sizes they were made with.
  if (mapped) capacity = (capacity + page_size() - 1) & ~(page_size() - 1);
  void* moved = nullptr;
  if (!was_mapped && !mapped) {
    moved = std::realloc(data_, capacity);
  } else if (was_mapped && mapped) {
    moved = remap_pages(data_, capacity_, capacity, size_);
    if (moved == nullptr) return false;
    advise_huge_pages(moved, capacity);
  } else {
    // Between the heap and a mapping: copy what is kept.
    moved = mapped ? map_bytes(capacity) : std::malloc(capacity);
    if (moved == nullptr) return false;
    if (size_ != 0) std::memcpy(moved, data_, std::min(size_, capacity));
    if (was_mapped) {
      unmap_pages(data_, capacity_);
    } else {
      std::free(data_);
    }
  }
  if (moved == nullptr) return false;
  data_ = static_cast<char*>(moved);
  capacity_ = capacity;
  size_ = std::min(size_, capacity_);
  return true;
}

bool ByteBuffer::reserve_extra(std::size_t extra) {
  if (capacity_ - size_ >= extra) return true;
  if (extra > static_cast<std::size_t>(-1) / 4 - size_) return false;
  return reallocate(std::max(size_ + extra, capacity_ * 2));
}

void ByteBuffer::drop_front(std::size_t count) {
  count = std::min(count, size_);
  if (count == 0) return;
  std::memmove(data_, data_ + count, size_ - count);
  size_ -= count;
}

void ByteBuffer::shrink(std::size_t keep) {
  const std::size_t capacity = std::max(size_, keep);
  if (capacity >= capacity_) return;
  if (capacity == 0) {
    release();
    return;
  }
  (void)reallocate(capacity);  // on failure the larger block simply stays
}

}  // namespace vesk
