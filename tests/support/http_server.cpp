#include "http_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vesk::test {

namespace {

constexpr int kPollMillis = 100;
constexpr int kRequestReadMillis = 10000;

std::string content_type_for(const std::filesystem::path& file) {
  const auto ext = file.extension().string();
  if (ext == ".html" || ext == ".htm") return "text/html; charset=utf-8";
  if (ext == ".js") return "text/javascript";
  if (ext == ".css") return "text/css";
  if (ext == ".json") return "application/json";
  if (ext == ".txt") return "text/plain; charset=utf-8";
  if (ext == ".png") return "image/png";
  return "application/octet-stream";
}

bool send_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

void respond(int fd, int status, std::string_view reason, const std::string& content_type,
             const std::string& body, const std::string& extra_headers = {}) {
  std::ostringstream head;
  head << "HTTP/1.1 " << status << ' ' << reason << "\r\n"
       << "Content-Type: " << content_type << "\r\n"
       << "Content-Length: " << body.size() << "\r\n"
       << "Cache-Control: no-store\r\n"
       << "Connection: close\r\n"
       << extra_headers << "\r\n";
  if (send_all(fd, head.str())) send_all(fd, body);
}

// Reads up to the end of the request head; empty when the peer sent none in time.
std::string read_request_head(int fd) {
  std::string head;
  char block[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    pollfd poller{fd, POLLIN, 0};
    int ready = ::poll(&poller, 1, kRequestReadMillis);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return {};
    ssize_t got = ::recv(fd, block, sizeof block, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return {};
    head.append(block, static_cast<size_t>(got));
  }
  return head;
}

// The value of a request header ("" when absent); names are matched without case.
std::string header_value(const std::string& head, std::string_view name) {
  std::istringstream lines(head);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto colon = line.find(':');
    if (colon != name.size()) continue;
    if (!std::equal(name.begin(), name.end(), line.begin(),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b)); })) {
      continue;
    }
    const auto start = line.find_first_not_of(' ', colon + 1);
    return start == std::string::npos ? std::string() : line.substr(start);
  }
  return {};
}

std::string attachment_header(const std::string& name) {
  return "Content-Disposition: attachment; filename=\"" + name + "\"\r\n";
}

}  // namespace

FixtureHttpServer::FixtureHttpServer(std::filesystem::path root) : root_(std::move(root)) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error_ = std::string("socket: ") + std::strerror(errno);
    return;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = 0;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    error_ = std::string("binding 127.0.0.1:0: ") + std::strerror(errno);
    ::close(fd);
    return;
  }
  listen_fd_ = fd;
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { accept_loop(); });
}

FixtureHttpServer::~FixtureHttpServer() {
  stopping_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<std::thread> connections;
  {
    std::lock_guard guard(mutex_);
    connections.swap(connections_);
  }
  for (auto& connection : connections) connection.join();
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

std::string FixtureHttpServer::url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<std::string> FixtureHttpServer::requested_paths() const {
  std::lock_guard guard(mutex_);
  return paths_;
}

std::string FixtureHttpServer::generated_bytes(std::size_t count) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return bytes;
}

void FixtureHttpServer::accept_loop() {
  while (!stopping_) {
    pollfd poller{listen_fd_, POLLIN, 0};
    if (::poll(&poller, 1, kPollMillis) <= 0) continue;
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard guard(mutex_);
    connections_.emplace_back([this, fd] { serve_connection(fd); });
  }
}

void FixtureHttpServer::serve_connection(int fd) {
  const std::string head = read_request_head(fd);
  std::istringstream request_line(head.substr(0, head.find("\r\n")));
  std::string method, target;
  request_line >> method >> target;
  std::string path = target.substr(0, target.find_first_of("?#"));
  if (!head.empty()) {
    std::lock_guard guard(mutex_);
    paths_.push_back(path);
  }

  if (head.empty()) {
    // a pre-connection that never sent a request
  } else if (method != "GET" || path.find("..") != std::string::npos || path.empty() || path[0] != '/') {
    respond(fd, 400, "Bad Request", "text/plain", "bad request: " + method + " " + target + "\n");
  } else if (path.starts_with("/bytes/")) {
    std::size_t count = 0;
    const std::string digits = path.substr(7);
    std::from_chars(digits.data(), digits.data() + digits.size(), count);
    count = std::min<std::size_t>(count, 64u << 20);
    respond(fd, 200, "OK", "application/octet-stream", generated_bytes(count),
            attachment_header("bytes-" + std::to_string(count) + ".bin"));
  } else if (path.starts_with("/set-cookie/")) {
    const std::string pair = path.substr(12);
    const auto slash = pair.find('/');
    const std::string name = pair.substr(0, slash);
    const std::string value = slash == std::string::npos ? std::string() : pair.substr(slash + 1);
    respond(fd, 200, "OK", "text/plain", "cookie " + name + " set\n",
            "Set-Cookie: " + name + "=" + value + "; Path=/; HttpOnly\r\n");
  } else if (path == "/echo-cookies") {
    respond(fd, 200, "OK", "text/plain", header_value(head, "Cookie"));
  } else {
    const bool as_download = path.starts_with("/download/");
    const auto relative = path.substr(as_download ? 10 : 1);
    const auto file = root_ / relative;
    std::ifstream in(file, std::ios::binary);
    if (relative.empty() || !std::filesystem::is_regular_file(file) || !in) {
      respond(fd, 404, "Not Found", "text/plain", "no such fixture: " + path + "\n");
    } else {
      std::ostringstream body;
      body << in.rdbuf();
      respond(fd, 200, "OK", as_download ? "application/octet-stream" : content_type_for(file), body.str(),
              as_download ? attachment_header(file.filename().string()) : std::string());
    }
  }
  ::shutdown(fd, SHUT_WR);
  ::close(fd);
}

}  // namespace vesk::test
