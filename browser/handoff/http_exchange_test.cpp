// Requests to the live view are read whole, in pieces or at once, and bad or oversized
// ones are refused instead of being buffered without end.
#include "browser/handoff/http_exchange.hpp"

#include <gtest/gtest.h>

namespace vesk::browser {
namespace {

TEST(HttpExchange, ARequestIsReadOnceItIsWhole) {
  const std::string text =
      "POST /abc/input?after=3&x=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 5\r\nX-Thing:  v \r\n\r\nhello";
  for (std::size_t cut = 0; cut < text.size(); ++cut) {
    auto partial = parse_http_request(std::string_view(text).substr(0, cut));
    ASSERT_TRUE(partial) << cut;
    EXPECT_FALSE(*partial) << cut;
  }
  auto whole = parse_http_request(text);
  ASSERT_TRUE(whole && *whole);
  const HttpRequest& request = **whole;
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/abc/input");
  EXPECT_EQ(query_value(request.query, "after"), "3");
  EXPECT_EQ(query_value(request.query, "y"), "");
  EXPECT_EQ(request.headers.at("x-thing"), "v");
  EXPECT_EQ(request.body, "hello");
}

TEST(HttpExchange, MalformedAndOversizedRequestsAreRefused) {
  const std::pair<std::string, const char*> cases[] = {
      {"GET\r\n\r\n", "malformed request line"},
      {"GET abc HTTP/1.1\r\n\r\n", "must be a path"},
      {"GET / SPDY/3\r\n\r\n", "malformed request line"},
      {"GET / HTTP/1.1\r\nNoColon\r\n\r\n", "malformed header"},
      {"POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", "Content-Length"},
      {"POST / HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n", "larger than 1 MiB"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", "chunked"},
      {"GET / HTTP/1.1\r\nX: " + std::string(20000, 'a'), "larger than 16 KiB"},
  };
  for (const auto& [text, message] : cases) {
    auto parsed = parse_http_request(text);
    ASSERT_FALSE(parsed) << text.substr(0, 40);
    EXPECT_NE(parsed.error().text().find(message), std::string::npos) << parsed.error().text();
  }
}

TEST(HttpExchange, ResponsesCloseAndAreNeverCached) {
  const std::string text = format_http_response({404, "text/plain", {{"X-A", "1"}}, "no\n"});
  EXPECT_TRUE(text.starts_with("HTTP/1.1 404 Not Found\r\n"));
  EXPECT_NE(text.find("Content-Length: 3\r\n"), std::string::npos);
  EXPECT_NE(text.find("Cache-Control: no-store\r\n"), std::string::npos);
  EXPECT_NE(text.find("Connection: close\r\n"), std::string::npos);
  EXPECT_TRUE(text.ends_with("X-A: 1\r\n\r\nno\n"));
}

}  // namespace
}  // namespace vesk::browser
