#include "raw_wire.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace vesk::test {

using Clock = std::chrono::steady_clock;

RawSocket& RawSocket::operator=(RawSocket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

RawSocket::~RawSocket() { close(); }

void RawSocket::shutdown() const {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void RawSocket::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

RawSocket connect_host(const std::string& host, std::uint16_t port, milliseconds wait,
                       std::string* error) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    if (error) *error = "not an IPv4 address: " + host;
    return RawSocket();
  }
  const auto deadline = Clock::now() + wait;
  for (;;) {
    RawSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) {
      if (error) *error = std::string("socket: ") + std::strerror(errno);
      return RawSocket();
    }
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      int one = 1;
      ::setsockopt(socket.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return socket;
    }
    if (Clock::now() >= deadline) {
      if (error) *error = "connect to " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
      return RawSocket();
    }
    std::this_thread::sleep_for(milliseconds(20));
  }
}

RawSocket connect_loopback(std::uint16_t port, milliseconds wait, std::string* error) {
  return connect_host("127.0.0.1", port, wait, error);
}

bool send_text(const RawSocket& socket, std::string_view text) {
  while (!text.empty()) {
    ssize_t sent = ::send(socket.fd(), text.data(), text.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    text.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

std::optional<std::string> FrameReader::take_frame() {
  for (; scanned_ < buffer_.size(); ++scanned_) {
    const char c = buffer_[scanned_];
    if (!started_) {
      if (c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r') continue;
      started_ = true;
      begin_ = scanned_;
    }
    if (in_string_) {
      if (escaped_) escaped_ = false;
      else if (c == '\\') escaped_ = true;
      else if (c == '"') in_string_ = false;
      continue;
    }
    if (c == '"') in_string_ = true;
    else if (c == '{' || c == '[') ++depth_;
    else if ((c == '}' || c == ']') && --depth_ == 0) {
      std::string frame = buffer_.substr(begin_, scanned_ + 1 - begin_);
      buffer_.erase(0, scanned_ + 1);
      scanned_ = 0;
      started_ = false;
      return frame;
    }
  }
  return std::nullopt;
}

FrameReader::Outcome FrameReader::read(const RawSocket& socket, std::optional<milliseconds> wait) {
  const auto deadline = Clock::now() + wait.value_or(milliseconds(0));
  for (;;) {
    if (auto frame = take_frame()) return {Status::Frame, std::move(*frame)};
    if (wait) {
      auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return {Status::TimedOut, {}};
      pollfd poller{socket.fd(), POLLIN, 0};
      int ready = ::poll(&poller, 1, static_cast<int>(left));
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return {Status::Failed, {}};
      if (ready == 0) return {Status::TimedOut, {}};
    }
    char block[65536];
    ssize_t got = ::recv(socket.fd(), block, sizeof block, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) return {Status::Closed, {}};
    if (got < 0) return {errno == ECONNRESET ? Status::Closed : Status::Failed, {}};
    buffer_.append(block, static_cast<size_t>(got));
  }
}

std::optional<std::string> call_raw(std::uint16_t port, std::string_view request, milliseconds wait,
                                    std::string* error) {
  RawSocket socket = connect_loopback(port, wait, error);
  if (!socket.valid()) return std::nullopt;
  if (!send_text(socket, request)) {
    if (error) *error = "failed to send the request";
    return std::nullopt;
  }
  FrameReader reader;
  auto outcome = reader.read(socket, wait);
  if (outcome.status == FrameReader::Status::Frame) return outcome.text;
  if (error) {
    *error = outcome.status == FrameReader::Status::TimedOut ? "no answer within the deadline"
                                                             : "connection ended without an answer";
  }
  return std::nullopt;
}

std::string request_text(const std::string& id, const std::string& method, const Json& params) {
  // The members in wire order, so the text is exactly what an encoder of the protocol writes.
  return "{\"id\":" + Json(id).dump() + ",\"kind\":\"request\",\"version\":1,\"method\":" +
         Json(method).dump() + ",\"params\":" + params.dump() + ",\"result\":null,\"error\":null}";
}

}  // namespace vesk::test
