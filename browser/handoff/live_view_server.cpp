#include "browser/handoff/live_view_server.hpp"

#include <charconv>

#include "base/log.hpp"
#include "browser/handoff/http_exchange.hpp"
#include "browser/handoff/pages.hpp"
#include "platform/peer_user.hpp"
#include "platform/random.hpp"

namespace vesk::browser {
namespace {

constexpr auto kRequestTimeout = std::chrono::seconds(10);
constexpr auto kFrameWait = std::chrono::seconds(10);
constexpr auto kWriteTimeout = std::chrono::seconds(10);

// 64 hex digits (256 bits) from the system generator: the secret part of the address.
Result<std::string> new_token() { return random_text("0123456789abcdef", 64); }

// Compares in time that does not depend on where the texts differ.
bool same_secret(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

HttpResponse not_found() { return HttpResponse{404, "text/plain; charset=utf-8", {}, "not found\n"}; }

HttpResponse json_response(const Json& value) {
  return HttpResponse{200, "application/json", {}, value.dump()};
}

}  // namespace

Result<std::unique_ptr<LiveViewServer>> LiveViewServer::start(std::string message, Callbacks callbacks) {
  auto token = new_token();
  if (!token) return fail(std::move(token.error()));
  // Loopback only: the page is for a person on this machine (or one who forwards the port).
  auto listener = TcpListener::bind("127.0.0.1:0");
  if (!listener) return fail(listener.error().wrap("failed to open the live view"));
  auto port = listener->local_port();
  if (!port) return fail(port.error().wrap("failed to open the live view"));
  std::string url = "http://127.0.0.1:" + std::to_string(*port) + "/" + *token + "/";
  std::unique_ptr<LiveViewServer> server(new LiveViewServer(std::move(*listener), std::move(*token), std::move(url),
                                                           std::move(message), std::move(callbacks)));
  server->acceptor_ = std::thread([raw = server.get()] { raw->accept_loop(); });
  return server;
}

LiveViewServer::LiveViewServer(TcpListener listener, std::string token, std::string url, std::string message,
                               Callbacks callbacks)
    : listener_(std::move(listener)),
      token_(std::move(token)),
      url_(std::move(url)),
      callbacks_(std::move(callbacks)),
      message_(std::move(message)) {}

LiveViewServer::~LiveViewServer() { stop(); }

void LiveViewServer::stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    // Wakes the accepting thread and every connection blocked in a read.
    shutdown_socket(listener_.socket());
    for (SocketHandle socket : open_sockets_) shutdown_socket(socket);
  }
  changed_.notify_all();
  if (acceptor_.joinable()) acceptor_.join();
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return connections_ == 0; });
}

void LiveViewServer::show_frame(std::string jpeg, int css_width, int css_height) {
  {
    std::lock_guard lock(mutex_);
    frame_ = std::move(jpeg);
    ++frame_seq_;
    css_width_ = css_width;
    css_height_ = css_height;
  }
  changed_.notify_all();
}

void LiveViewServer::set_state(std::string state) {
  {
    std::lock_guard lock(mutex_);
    state_ = std::move(state);
  }
  changed_.notify_all();
}

void LiveViewServer::accept_loop() {
  for (;;) {
    auto accepted = listener_.accept();
    std::unique_lock lock(mutex_);
    if (stopping_) return;
    if (!accepted) {
      log_info("live view: " + accepted.error().text());
      continue;
    }
    // Loopback is shared by every user of the machine: only our own user gets in.
    auto peer = connection_peer_user(accepted->socket.get());
    if (!peer || !peer->same_as_ours) {
      log_info("live view: refused a connection from " + accepted->peer + " (" +
                           (peer ? peer->name : peer.error().text()) + "): not this user");
      continue;
    }
    if (connections_ >= kMaxConnections) continue;  // closes it: the page retries
    ++connections_;
    open_sockets_.push_back(accepted->socket.get());
    lock.unlock();
    std::thread([this, socket = std::move(accepted->socket)]() mutable { serve_connection(std::move(socket)); }).detach();
  }
}

void LiveViewServer::serve_connection(UniqueSocket connection) {
  const SocketHandle socket = connection.get();
  auto request = read_http_request(socket, kRequestTimeout);
  if (request) {
    std::string response = respond(*request);
    (void)set_socket_timeouts(socket, kRequestTimeout, kWriteTimeout);
    (void)write_all(socket, response);
  } else if (request.error().kind() != ErrorKind::EndOfStream) {
    (void)write_all(socket, format_http_response({400, "text/plain; charset=utf-8", {}, request.error().text() + "\n"}));
  }
  std::lock_guard lock(mutex_);
  std::erase(open_sockets_, socket);
  connection.reset();
  --connections_;
  changed_.notify_all();
}

std::string LiveViewServer::respond(const HttpRequest& request) {
  // "/{token}" or "/{token}/rest": anything else, or a wrong token, is not found.
  std::string_view path = request.path;
  path.remove_prefix(1);
  const std::size_t slash = path.find('/');
  if (!same_secret(path.substr(0, slash), token_)) return format_http_response(not_found());
  const std::string_view route = slash == std::string_view::npos ? "" : path.substr(slash + 1);

  if (request.method == "GET" && route.empty()) {
    return format_http_response({200, "text/html; charset=utf-8",
                                 {{"Content-Security-Policy", "default-src 'self'; img-src 'self' blob:; "
                                                              "style-src 'unsafe-inline'; script-src 'unsafe-inline'"},
                                  {"Referrer-Policy", "no-referrer"}},
                                 std::string(pages::live_view)});
  }
  if (request.method == "GET" && route == "status") {
    std::lock_guard lock(mutex_);
    return format_http_response(json_response({{"state", state_}, {"message", message_}}));
  }
  if (request.method == "GET" && route == "frame") {
    std::uint64_t after = 0;
    const std::string after_text = query_value(request.query, "after");
    std::from_chars(after_text.data(), after_text.data() + after_text.size(), after);
    std::unique_lock lock(mutex_);
    const bool fresh = changed_.wait_for(lock, kFrameWait, [&] { return stopping_ || frame_seq_ > after; });
    if (stopping_) return format_http_response({503, "text/plain; charset=utf-8", {}, "the live view is closing\n"});
    if (!fresh || frame_.empty()) return format_http_response({204, "", {}, ""});
    return format_http_response({200, "image/jpeg",
                                 {{"X-Frame-Seq", std::to_string(frame_seq_)},
                                  {"X-Viewport-Width", std::to_string(css_width_)},
                                  {"X-Viewport-Height", std::to_string(css_height_)}},
                                 frame_});
  }
  if (request.method == "POST" && route == "input") {
    auto events = parse_json(request.body);
    if (!events || !events->is_array()) return format_http_response({400, "text/plain; charset=utf-8", {}, "input must be a JSON array\n"});
    if (callbacks_.input) callbacks_.input(*events);
    return format_http_response(json_response({{"ok", true}}));
  }
  if (request.method == "POST" && route == "done") {
    if (callbacks_.done) callbacks_.done();
    return format_http_response(json_response({{"ok", true}}));
  }
  return format_http_response(not_found());
}

}  // namespace vesk::browser
