#include "raw_wire.hpp"

#include <algorithm>
#include <thread>

namespace vesk::test {

using Clock = std::chrono::steady_clock;

void RawSocket::shutdown() const {
  if (valid()) shutdown_socket(socket_.get());
}

RawSocket connect_host(const std::string& host, std::uint16_t port, milliseconds wait,
                       std::string* error) {
  const std::string endpoint = host + ":" + std::to_string(port);
  auto address = parse_socket_address(endpoint);
  if (!address) {
    if (error) *error = "not a numeric address: " + endpoint;
    return RawSocket();
  }
  const auto deadline = Clock::now() + wait;
  for (;;) {
    auto connected = connect_tcp(*address, std::max(milliseconds(100), std::chrono::duration_cast<milliseconds>(deadline - Clock::now())));
    if (connected) return RawSocket(std::move(*connected));
    if (Clock::now() >= deadline) {
      if (error) *error = "connect to " + endpoint + ": " + connected.error().text();
      return RawSocket();
    }
    std::this_thread::sleep_for(milliseconds(20));
  }
}

RawSocket connect_loopback(std::uint16_t port, milliseconds wait, std::string* error) {
  return connect_host("127.0.0.1", port, wait, error);
}

bool send_text(const RawSocket& socket, std::string_view text) {
  return write_all(socket.handle(), text).has_value();
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
      if (Clock::now() >= deadline) return {Status::TimedOut, {}};
      auto ready = wait_readable(socket.handle(), deadline);
      if (!ready) return {ready.error().kind() == ErrorKind::TimedOut ? Status::TimedOut : Status::Failed, {}};
    }
    char block[65536];
    auto got = receive_some(socket.handle(), block, sizeof block);
    // A reset counts as the end of the connection, as a close does.
    if (!got || *got == 0) return {Status::Closed, {}};
    buffer_.append(block, *got);
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
