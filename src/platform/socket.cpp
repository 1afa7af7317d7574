// The parts of sockets that read the same on every system; socket_posix.cpp and
// socket_win32.cpp hold the rest.

#include <charconv>
#include <cstring>
#include <optional>

#include "platform/socket_native.hpp"

namespace vesk {

UniqueSocket& UniqueSocket::operator=(UniqueSocket&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

UniqueSocket::~UniqueSocket() { reset(); }

SocketHandle UniqueSocket::release() {
  const SocketHandle handle = handle_;
  handle_ = SocketHandle::invalid;
  return handle;
}

namespace {

static_assert(sizeof(SocketAddress::storage) >= sizeof(sockaddr_storage));

const sockaddr* as_sockaddr(const SocketAddress& address) {
  return reinterpret_cast<const sockaddr*>(address.storage);
}

std::string address_text(const sockaddr* address, std::size_t length) {
  char host[INET6_ADDRSTRLEN] = {};
  if (address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    if (::inet_ntop(AF_INET, &v4->sin_addr, host, sizeof host) == nullptr) return "unknown";
    return std::string(host) + ":" + std::to_string(ntohs(v4->sin_port));
  }
  if (address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    if (::inet_ntop(AF_INET6, &v6->sin6_addr, host, sizeof host) == nullptr) return "unknown";
    return "[" + std::string(host) + "]:" + std::to_string(ntohs(v6->sin6_port));
  }
  return "unknown";
}

// Decimal digits only, 0..65535: no sign, no spaces, no base prefixes.
std::optional<std::uint16_t> parse_port(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

struct HostPort {
  std::string host;  // without brackets
  std::string_view port;
  bool bracketed = false;
};

// Splits "host:port" or "[v6]:port" at the port's colon.
std::optional<HostPort> split_host_port(std::string_view endpoint) {
  if (endpoint.starts_with('[')) {
    const auto close = endpoint.find(']');
    if (close == std::string_view::npos || close + 1 >= endpoint.size() || endpoint[close + 1] != ':') {
      return std::nullopt;
    }
    return HostPort{std::string(endpoint.substr(1, close - 1)), endpoint.substr(close + 2), true};
  }
  const auto colon = endpoint.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  return HostPort{std::string(endpoint.substr(0, colon)), endpoint.substr(colon + 1), false};
}

std::unexpected<Error> invalid_address(std::string_view endpoint) {
  return fail("invalid socket address syntax: " + std::string(endpoint));
}

}  // namespace

std::string SocketAddress::text() const { return address_text(as_sockaddr(*this), length); }

Result<SocketAddress> parse_socket_address(std::string_view endpoint) {
  start_sockets();
  const auto parts = split_host_port(endpoint);
  if (!parts) return invalid_address(endpoint);
  const auto port = parse_port(parts->port);
  if (!port) return invalid_address(endpoint);

  SocketAddress address;
  if (parts->bracketed) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(address.storage);
    if (::inet_pton(AF_INET6, parts->host.c_str(), &v6->sin6_addr) != 1) return invalid_address(endpoint);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(*port);
    address.length = sizeof(sockaddr_in6);
    return address;
  }
  auto* v4 = reinterpret_cast<sockaddr_in*>(address.storage);
  // inet_pton accepts only the four-part dotted decimal form.
  if (::inet_pton(AF_INET, parts->host.c_str(), &v4->sin_addr) != 1) return invalid_address(endpoint);
  v4->sin_family = AF_INET;
  v4->sin_port = htons(*port);
  address.length = sizeof(sockaddr_in);
  return address;
}

Result<std::vector<SocketAddress>> resolve_socket_addresses(std::string_view host_port) {
  if (auto numeric = parse_socket_address(host_port)) return std::vector<SocketAddress>{*numeric};

  const auto parts = split_host_port(host_port);
  if (!parts || !parse_port(parts->port)) return invalid_address(host_port);

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port(parts->port);
  const int status = ::getaddrinfo(parts->host.c_str(), port.c_str(), &hints, &found);
  if (status == EAI_NONAME || status == EAI_NODATA) return fail("could not resolve to any addresses");
  if (status != 0) return fail(resolver_error(status).wrap("failed to resolve " + std::string(host_port)));

  std::vector<SocketAddress> addresses;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_addrlen > sizeof(SocketAddress::storage)) continue;
    SocketAddress address;
    std::memcpy(address.storage, entry->ai_addr, entry->ai_addrlen);
    address.length = static_cast<std::uint32_t>(entry->ai_addrlen);
    addresses.push_back(address);
  }
  ::freeaddrinfo(found);
  if (addresses.empty()) return fail("could not resolve to any addresses");
  return addresses;
}

Result<UniqueSocket> connect_tcp(const SocketAddress& address, std::chrono::milliseconds timeout) {
  auto socket = open_tcp_socket(as_sockaddr(address)->sa_family);
  if (!socket) return socket;
  if (auto nonblocking = set_blocking(socket->get(), false); !nonblocking) return fail(nonblocking.error());

  if (::connect(native(socket->get()), as_sockaddr(address), static_cast<NativeAddressLength>(address.length)) != 0) {
    if (!connect_in_progress()) return fail(last_socket_error());
    if (auto waited = wait_for_connect(socket->get(), timeout); !waited) return fail(waited.error());
  }

  // The caller reads and writes with blocking calls bounded by socket time-outs.
  if (auto blocking = set_blocking(socket->get(), true); !blocking) return fail(blocking.error());
  return socket;
}

Result<TcpListener> TcpListener::bind(std::string_view host_port) {
  const std::string context = "failed to bind " + std::string(host_port);
  auto addresses = resolve_socket_addresses(host_port);
  if (!addresses) return fail(std::move(addresses.error()).wrap(context));

  // No address reuse: a second server on a port that is in use must fail here.
  Error last_error("could not resolve to any addresses");
  for (const auto& address : *addresses) {
    auto socket = open_tcp_socket(as_sockaddr(address)->sa_family);
    if (!socket) {
      last_error = socket.error();
      continue;
    }
    if (::bind(native(socket->get()), as_sockaddr(address), static_cast<NativeAddressLength>(address.length)) != 0 ||
        ::listen(native(socket->get()), SOMAXCONN) != 0) {
      last_error = last_socket_error();
      continue;
    }
    return TcpListener(std::move(*socket));
  }
  return fail(std::move(last_error).wrap(context));
}

Result<std::uint16_t> TcpListener::local_port() const {
  sockaddr_storage address{};
  NativeAddressLength length = sizeof address;
  if (::getsockname(native(socket_.get()), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return fail(last_socket_error().wrap("failed to read the listener's local address"));
  }
  if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
  return fail("listener has no IP address");
}

Result<AcceptedConnection> TcpListener::accept() const {
  for (;;) {
    sockaddr_storage peer{};
    NativeAddressLength length = sizeof peer;
    const SocketHandle accepted = accept_native(socket_.get(), reinterpret_cast<sockaddr*>(&peer), &length);
    if (accepted != SocketHandle::invalid) {
      return AcceptedConnection{UniqueSocket(accepted),
                                address_text(reinterpret_cast<const sockaddr*>(&peer), static_cast<std::size_t>(length))};
    }
    if (accept_should_retry()) continue;
    return fail(last_socket_error().wrap("failed to accept a connection"));
  }
}

Result<SocketPair> connected_socket_pair() {
  auto listener = TcpListener::bind("127.0.0.1:0");
  if (!listener) return fail(listener.error());
  auto port = listener->local_port();
  if (!port) return fail(port.error());
  auto address = parse_socket_address("127.0.0.1:" + std::to_string(*port));
  if (!address) return fail(address.error());
  auto second = connect_tcp(*address, std::chrono::seconds(10));
  if (!second) return fail(second.error());
  auto first = listener->accept();
  if (!first) return fail(first.error());
  return SocketPair{std::move(first->socket), std::move(*second)};
}

}  // namespace vesk
