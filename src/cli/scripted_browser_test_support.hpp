#pragma once
// A browser stand-in for handler tests: records every request as the browser would read it
// off the wire, and answers from a script.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cli/browser_request.hpp"
#include "protocol/json_writer.hpp"

namespace vesk::cli::testing_support {

struct Request {
  std::string method;
  Json params;
};

class ScriptedBrowser {
 public:
  using Answer = std::function<Result<Json>(const Request& request, size_t index)>;

  // Answers every request with {"ok": true} unless told otherwise.
  ScriptedBrowser() : answer_([](const Request&, size_t) -> Result<Json> { return Json{{"ok", true}}; }) {}
  explicit ScriptedBrowser(Answer answer) : answer_(std::move(answer)) {}

  RequestSender sender() {
    return [this](const std::string& method, const Json& params) {
      // Written and read back: binary values (file contents) arrive as base64 text.
      std::string wire;
      StringSink sink(wire);
      write_compact_json(sink, params);
      received.push_back({method, Json::parse(wire)});
      return answer_(received.back(), received.size() - 1);
    };
  }

  std::vector<std::string> methods() const {
    std::vector<std::string> names;
    for (const auto& request : received) names.push_back(request.method);
    return names;
  }

  std::vector<Request> received;

 private:
  Answer answer_;
};

// What a handler wrote while it ran, and its outcome.
struct Printed {
  std::string out;
  std::string err;
  Status status;
};

template <class Handler>
Printed run_capturing(Handler&& handler) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  Status status = handler();
  Printed printed{::testing::internal::GetCapturedStdout(), ::testing::internal::GetCapturedStderr(), {}};
  printed.status = std::move(status);
  return printed;
}

}  // namespace vesk::cli::testing_support
