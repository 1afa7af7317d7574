#include "platform/file_lock.hpp"

#include <utility>

namespace vesk {

FileLock::FileLock(FileLock&& other) noexcept : file_(std::exchange(other.file_, kNone)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    close();
    file_ = std::exchange(other.file_, kNone);
  }
  return *this;
}

FileLock::~FileLock() { close(); }

}  // namespace vesk
