#include "protocol/answer_wait.hpp"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(ClientAnswerWait, OutlastsTheBrokersWaitForEveryRequest) {
  struct Case {
    const char* method;
    Json params;
    std::chrono::seconds broker_wait;
  };
  const Case cases[] = {
      {"download", {{"options", {{"wait", true}}}}, kLongAnswerWait},
      {"download", {{"options", {{"wait", false}}}}, kAnswerWait},
      {"download", {{"options", {{"wait", "true"}}}}, kAnswerWait},
      {"download", Json::object(), kAnswerWait},
      {"download", nullptr, kAnswerWait},
      {"page.title", {{"options", {{"wait", true}}}}, kAnswerWait},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.params.dump());
    EXPECT_EQ(waits_long_for_answer(c.method, c.params), c.broker_wait == kLongAnswerWait);
    EXPECT_GT(client_answer_wait(c.method, c.params), c.broker_wait);
  }
}

}  // namespace
}  // namespace vesk
