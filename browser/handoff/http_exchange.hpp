#pragma once
// One HTTP/1.1 exchange on a connection, as small as the live view needs: read a request
// (request line, headers, a body of Content-Length bytes), write one response, close.
// Requests are bounded (headers and body sizes) and every read has a deadline, so a slow
// or hostile client cannot hold a thread or memory for long.

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "base/error.hpp"
#include "platform/socket.hpp"

namespace vesk::browser {

struct HttpRequest {
  std::string method;  // "GET"
  std::string path;    // "/token/frame", without the query
  std::string query;   // "after=3", without the "?"
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
};

struct HttpResponse {
  int status = 200;
  std::string content_type = "text/plain; charset=utf-8";
  std::map<std::string, std::string> headers;
  std::string body;
};

inline constexpr std::size_t kMaxHttpHeaderBytes = 16 * 1024;
inline constexpr std::size_t kMaxHttpBodyBytes = 1024 * 1024;

// Parses a request from the bytes read so far. nullopt: more bytes are needed. An error:
// the request is malformed or too large (answer 400 or 413 and close).
Result<std::optional<HttpRequest>> parse_http_request(std::string_view bytes);

// Reads one request from the connection, waiting at most `timeout` in all.
Result<HttpRequest> read_http_request(SocketHandle socket, std::chrono::milliseconds timeout);

// The response as bytes: status line, Content-Type, Content-Length, Cache-Control no-store,
// Connection close, the extra headers, the body.
std::string format_http_response(const HttpResponse& response);

// The value of `name` in a query ("after=3&x=1"), or empty.
std::string query_value(std::string_view query, std::string_view name);

}  // namespace vesk::browser
