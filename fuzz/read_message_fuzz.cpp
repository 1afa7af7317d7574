// read_message over a byte stream that arrives in pieces. The first input byte picks the
// piece size, the rest is the stream. A sequenced-packet socket pair hands each piece to
// exactly one read, so a run is reproducible without a writer thread.
//
// Properties: how the stream is cut into reads never changes what is read (the same
// messages and errors as when it arrives in blocks of 64 KiB), and every message read
// survives encode, parse and decode unchanged.

#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "protocol/framing.hpp"
#include "protocol/wire_json.hpp"

namespace {

using vesk::fuzz::require;

// A read larger than this could be cut short by the socket; read_message always offers
// at least this much room.
constexpr std::size_t kLargestPiece = 64 * 1024;
// Past this many small pieces the rest goes in large ones, so the socket never fills.
constexpr std::size_t kMostSmallPieces = 256;

struct Delivery {
  vesk::UniqueSocket reader;
  bool complete = true;  // false when the socket filled up before the stream ended
};

// The stream cut into pieces of `piece` bytes, written into a fresh socket pair whose
// write end is then closed.
Delivery deliver(std::string_view stream, std::size_t piece) {
  int fds[2];
  require(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) == 0, "socketpair failed");
  vesk::UniqueSocket reader(static_cast<vesk::SocketHandle>(fds[0]));
  vesk::UniqueSocket writer(static_cast<vesk::SocketHandle>(fds[1]));
  const int writer_fd = fds[1];
  int buffer = 4 * 1024 * 1024;
  ::setsockopt(writer_fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  for (std::size_t count = 0; !stream.empty(); ++count) {
    const std::size_t size = std::min(stream.size(), count < kMostSmallPieces ? piece : kLargestPiece);
    const ssize_t sent = ::send(writer_fd, stream.data(), size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent <= 0) return {std::move(reader), false};
    stream.remove_prefix(static_cast<std::size_t>(sent));
  }
  return {std::move(reader), true};
}

std::string outcome(const vesk::Result<vesk::Message>& message) {
  return message ? vesk::encode_message(*message) : "error: " + message.error().text();
}

// Every read until the first error, which ends the list.
std::vector<std::string> read_all(vesk::UniqueSocket socket) {
  vesk::Connection connection(std::move(socket));
  std::vector<std::string> outcomes;
  for (;;) {
    auto message = vesk::read_message(connection);
    outcomes.push_back(outcome(message));
    if (!message) return outcomes;
    const std::string& encoded = outcomes.back();
    auto value = vesk::parse_wire_json(encoded);
    require(value.has_value(), "an encoded message is not valid JSON", encoded);
    auto again = vesk::decode_message(*value);
    require(again && vesk::encode_message(*again) == encoded, "a message changes through encode and decode",
            encoded);
  }
}

std::string joined(const std::vector<std::string>& outcomes) {
  std::string text;
  for (const auto& line : outcomes) text += line + "\n";
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + std::size_t{data[0]} * data[0];  // 1 to 65026 bytes
  const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (stream.size() > kMostSmallPieces * kLargestPiece) return 0;

  auto pieces = deliver(stream, piece);
  auto blocks = deliver(stream, kLargestPiece);
  const bool comparable = pieces.complete && blocks.complete;
  const auto in_pieces = read_all(std::move(pieces.reader));
  const auto in_blocks = read_all(std::move(blocks.reader));
  if (!comparable) return 0;
  require(in_pieces == in_blocks, "cutting the stream differently changes what is read",
          "pieces:\n" + joined(in_pieces) + "blocks:\n" + joined(in_blocks));
  return 0;
}
