#include "launch/endpoint.hpp"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(SplitEndpoint, Cases) {
  struct Case {
    std::string endpoint;
    HostAndPort expected;
  };
  const Case cases[] = {
      {"127.0.0.1:40000", {"127.0.0.1", 40000}},
      {"10.1.2.3:+8080", {"10.1.2.3", 8080}},       // a leading "+" is allowed
      {"127.0.0.1:http", {"127.0.0.1", 51234}},     // not a number: the default port
      {"127.0.0.1:65536", {"127.0.0.1", 51234}},    // out of range
      {"127.0.0.1:-1", {"127.0.0.1", 51234}},
      {"127.0.0.1:", {"127.0.0.1", 51234}},
      {"9000", {"127.0.0.1", 9000}},                // no ":": the whole text is the port
      {"localhost", {"127.0.0.1", 51234}},
      {"[::1]:7000", {"[::1]", 7000}},              // split at the last ":"
  };
  for (const auto& c : cases) EXPECT_EQ(split_endpoint(c.endpoint), c.expected) << c.endpoint;
}

TEST(EndpointOf, HostColonPort) {
  EXPECT_EQ(endpoint_of(ServerRecord{"127.0.0.1", 51234, 7, "2025-01-01T00:00:00Z"}), "127.0.0.1:51234");
}

}  // namespace
}  // namespace vesk
