#pragma once
// The broker: what one accepted connection carries is decided by its first message.
// A message whose method is "hello" comes from a browser, which is checked, answered,
// registered, and from then on serves the requests queued for it. Any other first
// message is one client request, relayed to the registered browsers in turn; its answer
// is written back and the connection ends.

#include <chrono>
#include <cstddef>
#include <filesystem>

#include "base/error.hpp"
#include "protocol/answer_wait.hpp"
#include "protocol/framing.hpp"
#include "server/registry.hpp"

namespace vesk {

// The broker's waits and bounds. The executable always uses these defaults; tests shorten
// them in-process.
struct BrokerOptions {
  // How long a client thread waits for one browser's answer before trying the next one.
  std::chrono::milliseconds answer_wait = kAnswerWait;
  // For "download" with params.options.wait true: the browser waits for the file.
  std::chrono::milliseconds download_wait = kLongAnswerWait;
  // A connection must have sent its whole first message by then (a request, or a
  // browser's hello), or it is closed: a silent peer holds no thread for long.
  std::chrono::milliseconds first_message_wait = std::chrono::seconds(30);
  // The largest message read from any peer; past it the connection is closed.
  std::size_t max_message_bytes = kMaxMessageBytes;
};

// Runs on the connection's own thread. An error ends only this connection; the caller
// logs it and closes the socket.
Status handle_connection(Connection& connection, const std::filesystem::path& state_path,
                         Registry& registry, const BrokerOptions& options);

}  // namespace vesk
