#pragma once
// A message's text that owns its bytes: either a string of its own or, for a large message
// that was alone in a connection's receive buffer, that buffer taken over whole, so a
// relayed upload is never copied on its way through.

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/byte_buffer.hpp"

namespace vesk {

class ReceivedText {
 public:
  ReceivedText() = default;
  explicit ReceivedText(std::string text) : copy_(std::move(text)) {}
  // The bytes [offset, offset + length) of `storage`.
  ReceivedText(ByteBuffer storage, std::size_t offset, std::size_t length)
      : storage_(std::move(storage)), offset_(offset), length_(length), in_storage_(true) {}

  [[nodiscard]] std::string_view view() const {
    return in_storage_ ? storage_.view().substr(offset_, length_) : std::string_view(copy_);
  }

 private:
  std::string copy_;
  ByteBuffer storage_;
  std::size_t offset_ = 0;
  std::size_t length_ = 0;
  bool in_storage_ = false;
};

}  // namespace vesk
