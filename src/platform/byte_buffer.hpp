#pragma once
// A growable byte array for data received from a socket. Once large it lives in a mapping
// of its own that grows by remapping pages instead of copying bytes and that huge pages
// may back; running out of memory is reported as a value instead of thrown.

#include <cstddef>
#include <string_view>

namespace vesk {

class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ~ByteBuffer();

  [[nodiscard]] char* data() { return data_; }
  [[nodiscard]] const char* data() const { return data_; }
  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] std::size_t capacity() const { return capacity_; }
  [[nodiscard]] std::string_view view() const { return {data_, size_}; }

  // Makes room for at least `extra` bytes after the end (capacity at least doubles).
  // False when memory runs out; the contents are then unchanged.
  [[nodiscard]] bool reserve_extra(std::size_t extra);
  // Counts `count` bytes written at data() + size() as part of the contents.
  void commit(std::size_t count) { size_ += count; }
  // Removes the first `count` bytes, moving the rest to the front.
  void drop_front(std::size_t count);
  void clear() { size_ = 0; }
  // Gives memory back until the capacity is the size (at least `keep` bytes are kept).
  void shrink(std::size_t keep = 0);

 private:
  // Moves the contents into `capacity` bytes (at least size()); false when out of memory.
  bool reallocate(std::size_t capacity);
  void release();

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace vesk
