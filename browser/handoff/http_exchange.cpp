#include "browser/handoff/http_exchange.hpp"


#include <cctype>
#include <cerrno>
#include <charconv>

namespace vesk::browser {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

const char* reason_phrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Content Too Large";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

}  // namespace

Result<std::optional<HttpRequest>> parse_http_request(std::string_view bytes) {
  const std::size_t header_end = bytes.find("\r\n\r\n");
  if (header_end == std::string_view::npos) {
    if (bytes.size() > kMaxHttpHeaderBytes) return fail("request headers are larger than 16 KiB");
    return std::nullopt;
  }
  if (header_end > kMaxHttpHeaderBytes) return fail("request headers are larger than 16 KiB");
  std::string_view head = bytes.substr(0, header_end);
  HttpRequest request;

  const std::size_t line_end = head.find("\r\n");
  const std::string_view request_line = head.substr(0, line_end);
  const std::size_t first_space = request_line.find(' ');
  const std::size_t second_space = request_line.find(' ', first_space + 1);
  if (first_space == std::string_view::npos || second_space == std::string_view::npos ||
      !request_line.substr(second_space + 1).starts_with("HTTP/1.")) {
    return fail("malformed request line");
  }
  request.method = std::string(request_line.substr(0, first_space));
  std::string_view target = request_line.substr(first_space + 1, second_space - first_space - 1);
  if (target.empty() || target.front() != '/') return fail("request target must be a path");
  if (const std::size_t question = target.find('?'); question != std::string_view::npos) {
    request.query = std::string(target.substr(question + 1));
    target = target.substr(0, question);
  }
  request.path = std::string(target);

  std::string_view rest = line_end == std::string_view::npos ? std::string_view{} : head.substr(line_end + 2);
  while (!rest.empty()) {
    const std::size_t end = rest.find("\r\n");
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 2);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return fail("malformed header line");
    request.headers[lower(trim(line.substr(0, colon)))] = std::string(trim(line.substr(colon + 1)));
  }

  std::size_t length = 0;
  if (const auto found = request.headers.find("content-length"); found != request.headers.end()) {
    const std::string& text = found->second;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), length);
    if (ec != std::errc() || end != text.data() + text.size()) return fail("malformed Content-Length");
    if (length > kMaxHttpBodyBytes) return fail("request body is larger than 1 MiB");
  } else if (request.headers.contains("transfer-encoding")) {
    return fail("chunked request bodies are not accepted");
  }
  const std::size_t body_start = header_end + 4;
  if (bytes.size() < body_start + length) return std::nullopt;
  request.body = std::string(bytes.substr(body_start, length));
  return request;
}

Result<HttpRequest> read_http_request(SocketHandle socket, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string bytes;
  char buffer[8192];
  for (;;) {
    auto parsed = parse_http_request(bytes);
    if (!parsed) return fail(std::move(parsed.error()));
    if (*parsed) return std::move(**parsed);
    if (auto ready = wait_readable(socket, deadline); !ready) {
      if (ready.error().kind() == ErrorKind::TimedOut) {
        return fail("the request did not arrive in time", ErrorKind::TimedOut);
      }
      return fail(std::move(ready.error()).wrap("failed to wait for the request"));
    }
    auto got = receive_some(socket, buffer, sizeof buffer);
    if (!got) return fail(std::move(got.error()).wrap("failed to read the request"));
    if (*got == 0) return fail("the client closed the connection", ErrorKind::EndOfStream);
    bytes.append(buffer, *got);
  }
}

std::string format_http_response(const HttpResponse& response) {
  std::string out = "HTTP/1.1 " + std::to_string(response.status) + " " + reason_phrase(response.status) + "\r\n";
  if (response.status != 204) out += "Content-Type: " + response.content_type + "\r\n";
  out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  out += "Cache-Control: no-store\r\nConnection: close\r\nX-Content-Type-Options: nosniff\r\n";
  for (const auto& [name, value] : response.headers) out += name + ": " + value + "\r\n";
  out += "\r\n";
  out += response.body;
  return out;
}

std::string query_value(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
    const std::size_t equals = pair.find('=');
    if (pair.substr(0, equals) == name) return equals == std::string_view::npos ? std::string{} : std::string(pair.substr(equals + 1));
  }
  return {};
}

}  // namespace vesk::browser
