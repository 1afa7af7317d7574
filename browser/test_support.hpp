#pragma once
// Helpers for the tests that drive a real Chromium: a temporary directory, the fixture
// pages, a started browser (tests skip when no Chromium is installed), and a tiny
// loopback HTTP server that serves the fixtures and a downloadable file.
// Included by *_test.cpp files only.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "browser/running_browser.hpp"

namespace vesk::browser::testing {

// The source tree comes from the test's environment: __FILE__ may be relative (the
// compiler cache rewrites paths), and the tests run in the build folder.
inline std::filesystem::path fixtures_dir() {
  const char* source = std::getenv("VESK_SOURCE_DIR");
  const std::filesystem::path root = source != nullptr && *source != '\0'
                                         ? std::filesystem::path(source)
                                         : std::filesystem::path(__FILE__).parent_path().parent_path();
  return std::filesystem::absolute(root) / "tests" / "fixtures";
}

inline std::string fixture_url(const std::string& name) {
  return "file://" + (fixtures_dir() / name).string();
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "veskbrowser-test-XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    if (made != nullptr) path_ = made;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// A Chromium of our own for one test; nullptr (and the test skipped) when none exists.
inline std::unique_ptr<RunningBrowser> start_test_browser(const TempDir& dir) {
  auto binary = find_chromium_binary();
  if (!binary) return nullptr;
  ChromiumLaunch launch;
  launch.binary = *binary;
  launch.user_data_dir = dir.path() / "profile";
  launch.log_path = dir.path() / "chromium.log";
  auto running = RunningBrowser::start(launch, std::chrono::seconds(60));
  EXPECT_TRUE(running.has_value()) << (running ? "" : running.error().text());
  return running ? std::move(*running) : nullptr;
}

#define VESK_REQUIRE_BROWSER(browser)                                  \
  do {                                                                  \
    if (!find_chromium_binary()) GTEST_SKIP() << "no Chromium installed"; \
    ASSERT_NE(browser, nullptr);                                        \
  } while (0)

// Serves files of the fixtures folder over HTTP/1.0 on 127.0.0.1; "/download/<name>" is
// sent as an attachment so that the browser downloads it.
class FixtureHttpServer {
 public:
  FixtureHttpServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 16);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~FixtureHttpServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  FixtureHttpServer(const FixtureHttpServer&) = delete;
  FixtureHttpServer& operator=(const FixtureHttpServer&) = delete;

  [[nodiscard]] std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  void serve() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      answer(client);
      ::close(client);
    }
  }

  static void answer(int client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      pollfd p{client, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) return;
      ssize_t n = ::read(client, buffer, sizeof buffer);
      if (n <= 0) return;
      request.append(buffer, static_cast<size_t>(n));
    }
    std::istringstream line(request.substr(0, request.find("\r\n")));
    std::string method, path;
    line >> method >> path;
    bool attachment = path.starts_with("/download/");
    std::string name = attachment ? path.substr(10) : path.substr(1);
    if (name.empty()) name = "form.html";
    auto file = fixtures_dir() / name;
    std::string head, body;
    if (name.find("..") == std::string::npos && std::filesystem::is_regular_file(file)) {
      body = read_file(file);
      head = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
      if (attachment) {
        head += "Content-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"" +
                name + "\"\r\n";
      } else {
        head += name.ends_with(".html") ? "Content-Type: text/html; charset=utf-8\r\n"
                                        : "Content-Type: application/octet-stream\r\n";
      }
    } else {
      body = "not found";
      head = "HTTP/1.0 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n";
    }
    std::string response = head + "Connection: close\r\n\r\n" + body;
    const char* data = response.data();
    size_t left = response.size();
    while (left > 0) {
      ssize_t n = ::send(client, data, left, MSG_NOSIGNAL);
      if (n <= 0) return;
      data += n;
      left -= static_cast<size_t>(n);
    }
  }

  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace vesk::browser::testing
