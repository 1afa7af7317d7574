#include "launch/endpoint.hpp"

#include <charconv>
#include <optional>

namespace vesk {

namespace {

std::optional<std::uint16_t> parse_decimal_port(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint16_t port = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return port;
}

}  // namespace

std::string endpoint_of(const ServerRecord& server) { return server.host + ":" + std::to_string(server.port); }

HostAndPort split_endpoint(std::string_view endpoint) {
  const auto colon = endpoint.rfind(':');
  const auto port_text = colon == std::string_view::npos ? endpoint : endpoint.substr(colon + 1);
  const std::string host = colon == std::string_view::npos ? "127.0.0.1" : std::string(endpoint.substr(0, colon));
  return {host, parse_decimal_port(port_text).value_or(kDefaultServerPort)};
}

}  // namespace vesk
