#pragma once
// Server endpoint strings: "host:port", as the server record gives them.

#include <cstdint>
#include <string>
#include <string_view>

#include "store/state.hpp"

namespace vesk {

inline constexpr std::uint16_t kDefaultServerPort = 51234;

// The record's host, ":", and its port in decimal.
std::string endpoint_of(const ServerRecord& server);

struct HostAndPort {
  std::string host;
  std::uint16_t port = 0;
  bool operator==(const HostAndPort&) const = default;
};

// Splits at the last ":". The text after it (the whole text when there is no ":") is
// the port, decimal with an optional leading "+", or 51234 when it does not parse; the
// text before it is the host, "127.0.0.1" when there is no ":".
HostAndPort split_endpoint(std::string_view endpoint);

}  // namespace vesk
