#include "platform/socket.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>

namespace vesk {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

UniqueFd::~UniqueFd() { reset(); }

int UniqueFd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::reset(int fd) {
  // close() is not retried on EINTR: on Linux the descriptor is gone either way.
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

namespace {

std::string address_text(const sockaddr* address, socklen_t length) {
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

// Waits until a non-blocking connect finishes or the time runs out.
Status wait_for_connect(int fd, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return fail(system_error(ETIMEDOUT));
    pollfd entry{fd, POLLOUT, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return fail(system_error(errno));
    }
    if (ready == 0) return fail(system_error(ETIMEDOUT));
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return fail(system_error(errno));
    if (error != 0) return fail(system_error(error));
    return {};
  }
}

timeval to_timeval(std::chrono::milliseconds duration) {
  timeval value{};
  value.tv_sec = static_cast<time_t>(duration.count() / 1000);
  value.tv_usec = static_cast<suseconds_t>((duration.count() % 1000) * 1000);
  return value;
}

}  // namespace

std::string SocketAddress::text() const {
  return address_text(reinterpret_cast<const sockaddr*>(&storage), length);
}

Result<SocketAddress> parse_socket_address(std::string_view endpoint) {
  const auto parts = split_host_port(endpoint);
  if (!parts) return invalid_address(endpoint);
  const auto port = parse_port(parts->port);
  if (!port) return invalid_address(endpoint);

  SocketAddress address;
  if (parts->bracketed) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
    if (::inet_pton(AF_INET6, parts->host.c_str(), &v6->sin6_addr) != 1) return invalid_address(endpoint);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(*port);
    address.length = sizeof(sockaddr_in6);
    return address;
  }
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage);
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
  if (status != 0) {
    return fail(Error(status == EAI_SYSTEM ? system_error(errno).message() : ::gai_strerror(status))
                    .wrap("failed to resolve " + std::string(host_port)));
  }

  std::vector<SocketAddress> addresses;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
    SocketAddress address;
    std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
    address.length = entry->ai_addrlen;
    addresses.push_back(address);
  }
  ::freeaddrinfo(found);
  if (addresses.empty()) return fail("could not resolve to any addresses");
  return addresses;
}

Result<UniqueFd> connect_tcp(const SocketAddress& address, std::chrono::milliseconds timeout) {
  UniqueFd fd(::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.valid()) return fail(system_error(errno));

  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address.storage), address.length) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return fail(system_error(errno));
    if (auto waited = wait_for_connect(fd.get(), timeout); !waited) return fail(waited.error());
  }

  // The caller reads and writes with blocking calls bounded by socket time-outs.
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return fail(system_error(errno));
  return fd;
}

Status set_socket_timeouts(int fd, std::chrono::milliseconds read, std::chrono::milliseconds write) {
  // A zero duration means no time-out, as for the socket options themselves.
  const timeval read_timeout = to_timeval(read);
  const timeval write_timeout = to_timeval(write);
  if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &read_timeout, sizeof read_timeout) != 0 ||
      ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &write_timeout, sizeof write_timeout) != 0) {
    return fail(system_error(errno, "failed to set socket time-outs"));
  }
  return {};
}

Result<TcpListener> TcpListener::bind(std::string_view host_port) {
  const std::string context = "failed to bind " + std::string(host_port);
  auto addresses = resolve_socket_addresses(host_port);
  if (!addresses) return fail(std::move(addresses.error()).wrap(context));

  // No SO_REUSEADDR: a second server on a port that is in use must fail here.
  Error last_error("could not resolve to any addresses");
  for (const auto& address : *addresses) {
    UniqueFd fd(::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid() ||
        ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address.storage), address.length) != 0 ||
        ::listen(fd.get(), SOMAXCONN) != 0) {
      last_error = system_error(errno);
      continue;
    }
    return TcpListener(std::move(fd));
  }
  return fail(std::move(last_error).wrap(context));
}

Result<std::uint16_t> TcpListener::local_port() const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return fail(system_error(errno, "failed to read the listener's local address"));
  }
  if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
  return fail("listener has no IP address");
}

Result<AcceptedConnection> TcpListener::accept() const {
  for (;;) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int fd = ::accept4(fd_.get(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd >= 0) {
      return AcceptedConnection{UniqueFd(fd), address_text(reinterpret_cast<const sockaddr*>(&peer), length)};
    }
    // A signal, or a peer that gave up before we took its connection: wait for the next one.
    if (errno == EINTR || errno == ECONNABORTED) continue;
    return fail(system_error(errno, "failed to accept a connection"));
  }
}

Status write_all(int fd, std::string_view bytes) {
  bool is_socket = true;
  while (!bytes.empty()) {
    // MSG_NOSIGNAL: a peer that has gone away is an error value, not a SIGPIPE.
    const ssize_t sent = is_socket ? ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL)
                                   : ::write(fd, bytes.data(), bytes.size());
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno == ENOTSOCK && is_socket) {
        is_socket = false;
        continue;
      }
      return fail(system_error(errno));
    }
    if (sent == 0) return fail("failed to write whole buffer");
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return {};
}

}  // namespace vesk
