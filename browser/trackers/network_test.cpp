// The network tracker fed events by hand; its DevTools client writes to a pipe the test
// reads, so the answers to paused requests can be checked.
#include "browser/trackers/network.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "browser/core/base64.hpp"

namespace vesk::browser {
namespace {

class NetworkTrackerTest : public ::testing::Test {
 protected:
  NetworkTrackerTest() {
    int commands[2], replies[2];
    EXPECT_EQ(::pipe2(commands, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(replies, O_CLOEXEC), 0);
    command_read_.reset(commands[0]);
    reply_write_.reset(replies[1]);
    client_ = std::make_unique<DevToolsClient>(UniqueFd(commands[1]), UniqueFd(replies[0]));
    rules_ = std::make_shared<NetworkRules>();
    tracker_ = std::make_unique<NetworkTracker>(TabTrackerContext{*client_, "1", "T", "S"}, rules_);
  }
  ~NetworkTrackerTest() override {
    tracker_.reset();
    client_.reset();
  }

  void feed(const std::string& method, Json params) { tracker_->on_event({method, std::move(params), "S", 0}); }

  void request(const std::string& id, const std::string& url, double at, Json extra = Json::object()) {
    Json params = {{"requestId", id},
                   {"request", {{"url", url}, {"method", "GET"}, {"headers", {{"Accept", "*/*"}}}}},
                   {"timestamp", at},
                   {"wallTime", 1'800'000'000.0 + at},
                   {"type", "Fetch"}};
    params.update(extra);
    feed("Network.requestWillBeSent", std::move(params));
  }

  // The next command the tracker sent, answered with an empty result.
  Json answered_command() {
    std::string text;
    char c;
    while (::read(command_read_.get(), &c, 1) == 1 && c != '\0') text.push_back(c);
    Json command = Json::parse(text);
    const std::string reply = Json{{"id", command["id"]}, {"result", Json::object()}, {"sessionId", "S"}}.dump();
    EXPECT_EQ(::write(reply_write_.get(), reply.c_str(), reply.size() + 1), static_cast<ssize_t>(reply.size() + 1));
    return command;
  }

  UniqueFd command_read_;
  UniqueFd reply_write_;
  std::unique_ptr<DevToolsClient> client_;
  std::shared_ptr<NetworkRules> rules_;
  std::unique_ptr<NetworkTracker> tracker_;
};

TEST_F(NetworkTrackerTest, ARedirectEndsOneRecordAndStartsTheNext) {
  request("r1", "http://h/old", 1.0);
  request("r1", "http://h/new", 1.5,
          {{"redirectResponse", {{"status", 302}, {"statusText", "Found"}, {"headers", {{"Location", "/new"}}}}}});
  feed("Network.responseReceived", {{"requestId", "r1"}, {"response", {{"status", 200}, {"mimeType", "text/html"}}}});
  feed("Network.dataReceived", {{"requestId", "r1"}, {"dataLength", 10}});
  feed("Network.loadingFinished", {{"requestId", "r1"}, {"timestamp", 2.0}, {"encodedDataLength", 300}});

  auto hop = tracker_->find(1);
  auto final = tracker_->find(2);
  ASSERT_TRUE(hop && final);
  EXPECT_EQ(hop->status, 302);
  EXPECT_EQ(hop->redirect_to, "http://h/new");
  EXPECT_TRUE(hop->finished);
  EXPECT_DOUBLE_EQ(hop->ended, 1.5);
  EXPECT_EQ(final->status, 200);
  EXPECT_EQ(final->body_bytes, 10);
  EXPECT_EQ(final->transfer_bytes, 300);
  EXPECT_EQ(final->type, "fetch");
}

TEST_F(NetworkTrackerTest, TheRingKeepsTheNewestAndCountsTheDropped) {
  for (std::size_t i = 0; i < kMaxRequests + 5; ++i) request("r" + std::to_string(i), "http://h/" + std::to_string(i), 1);
  EXPECT_EQ(tracker_->dropped(), 5u);
  EXPECT_FALSE(tracker_->find(5));
  ASSERT_TRUE(tracker_->find(6));
  EXPECT_EQ(tracker_->find(6)->url, "http://h/5");
  // Events of a dropped request are ignored; those of a kept one still land.
  feed("Network.loadingFailed", {{"requestId", "r0"}, {"timestamp", 2}, {"errorText", "net::ERR_FAILED"}});
  feed("Network.loadingFailed", {{"requestId", "r9"}, {"timestamp", 2}, {"errorText", "net::ERR_FAILED"}});
  EXPECT_EQ(tracker_->find(10)->failure, "net::ERR_FAILED");
  std::size_t kept = 0;
  tracker_->for_each([&](const RequestRecord&) { ++kept; });
  EXPECT_EQ(kept, kMaxRequests);
  tracker_->clear();
  request("again", "http://h/again", 3);
  EXPECT_EQ(tracker_->find(kMaxRequests + 6)->url, "http://h/again");  // ids go on after a clear
}

TEST_F(NetworkTrackerTest, WireHeadersWinWhicheverEventComesFirst) {
  // Before the request it belongs to, and after.
  feed("Network.requestWillBeSentExtraInfo", {{"requestId", "a"}, {"headers", {{"Cookie", "k=v"}}}});
  request("a", "http://h/a", 1);
  request("b", "http://h/b", 1);
  feed("Network.requestWillBeSentExtraInfo", {{"requestId", "b"}, {"headers", {{"Cookie", "k=w"}}}});
  feed("Network.responseReceivedExtraInfo", {{"requestId", "b"}, {"headers", {{"Set-Cookie", "k=x"}}}});
  feed("Network.responseReceived", {{"requestId", "b"}, {"response", {{"status", 200}, {"headers", {{"X", "1"}}}}}});
  EXPECT_EQ(tracker_->find(1)->request_headers, (Json{{"Cookie", "k=v"}}));
  EXPECT_EQ(tracker_->find(2)->request_headers, (Json{{"Cookie", "k=w"}}));
  EXPECT_EQ(tracker_->find(2)->response_headers, (Json{{"Set-Cookie", "k=x"}}));
  EXPECT_EQ(tracker_->find(2)->status, 200);
}

TEST_F(NetworkTrackerTest, EveryPausedRequestIsAnswered) {
  Route fulfil;
  fulfil.pattern = "api";
  fulfil.glob = route_glob("api");
  fulfil.status = 201;
  fulfil.body = "hi";
  fulfil.headers = {{"Content-Type", "text/plain"}};
  rules_->add(fulfil);
  Route abort;
  abort.pattern = "*.png";
  abort.glob = "*.png";
  abort.abort = true;
  rules_->add(abort);
  request("n1", "http://h/api/x", 1);

  auto pause = [&](const std::string& id, const std::string& url) {
    feed("Fetch.requestPaused", {{"requestId", id}, {"request", {{"url", url}}}, {"networkId", "n1"}});
  };
  pause("i1", "http://h/api/x");
  Json fulfilled = answered_command();
  EXPECT_EQ(fulfilled["method"], "Fetch.fulfillRequest");
  EXPECT_EQ(fulfilled["sessionId"], "S");
  EXPECT_EQ(fulfilled["params"]["requestId"], "i1");
  EXPECT_EQ(fulfilled["params"]["responseCode"], 201);
  EXPECT_EQ(decode_base64(fulfilled["params"]["body"].get<std::string>()), "hi");
  EXPECT_EQ(tracker_->find(1)->routed, "fulfilled");

  pause("i2", "http://h/a.png");
  Json failed = answered_command();
  EXPECT_EQ(failed["method"], "Fetch.failRequest");
  EXPECT_EQ(failed["params"]["errorReason"], "Failed");

  // Paused under a route that is gone by now: let through.
  rules_->remove(std::nullopt);
  pause("i3", "http://h/api/x");
  EXPECT_EQ(answered_command()["method"], "Fetch.continueRequest");

  rules_->set_offline(true);
  pause("i4", "http://h/anything");
  Json offline = answered_command();
  EXPECT_EQ(offline["method"], "Fetch.failRequest");
  EXPECT_EQ(offline["params"]["errorReason"], "InternetDisconnected");
}

}  // namespace
}  // namespace vesk::browser
