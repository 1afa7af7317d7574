// The broker in-process, with answer waits short enough to exercise time-outs quickly,
// against fake browsers over loopback.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "server/background_broker.hpp"
#include "support/fake_browser.hpp"
#include "support/harness.hpp"
#include "support/process_sweep.hpp"

namespace vesk {
namespace {

using test::FakeBrowser;
using test::FakeBrowserConfig;
using test::Json;
using namespace std::chrono_literals;

class InProcessBroker : public ::testing::Test {
 protected:
  void start(BrokerOptions options, ThreadStarter starter = run_on_reused_thread) {
    auto started = BackgroundBroker::start(
        ConnectionContext{env_.state_path(), nullptr, options, std::move(starter)});
    ASSERT_TRUE(started) << started.error().text();
    broker_ = std::move(*started);
  }

  // A browser that has said hello and is registered, not yet answering.
  std::unique_ptr<FakeBrowser> connect(const std::string& key, Json script = Json::object()) {
    FakeBrowserConfig config;
    config.port = broker_->port();
    config.instance_id = key;
    config.script = std::move(script);
    std::string error;
    auto browser = FakeBrowser::connect(config, &error);
    EXPECT_TRUE(browser) << error;
    if (browser) {
      EXPECT_TRUE(browser->accepted()) << browser->hello_answer().dump();
    }
    return browser;
  }

  std::unique_ptr<FakeBrowser> serving(const std::string& key, Json script = Json::object()) {
    auto browser = connect(key, std::move(script));
    if (browser) browser->serve_in_background();
    return browser;
  }

  // Registration follows the hello's answer on the broker's thread: wait for it.
  bool wait_until_registered(std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + test::kGenerousWait;
    while (broker_->registry().snapshot().size() < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }

  Json call(const std::string& id, const std::string& method, const Json& params = Json::object()) {
    std::string error;
    auto answer = test::call_raw(broker_->port(), test::request_text(id, method, params), test::kGenerousWait, &error);
    EXPECT_TRUE(answer) << error;
    return answer ? Json::parse(*answer) : Json();
  }

  test::TestEnv env_;
  std::unique_ptr<BackgroundBroker> broker_;
};

TEST_F(InProcessBroker, BrowserThatNeverAnswersIsPassedOverAndStaysRegistered) {
  start(BrokerOptions{.answer_wait = 200ms, .download_wait = 200ms});
  auto first = connect("first");
  auto second = connect("second");
  ASSERT_TRUE(first && second && wait_until_registered(2));
  // Browsers are tried in registry order: make whichever comes first the silent one.
  bool first_is_tried_first = broker_->registry().snapshot().front().key == "first";
  FakeBrowser& silent = first_is_tried_first ? *first : *second;
  FakeBrowser& answering = first_is_tried_first ? *second : *first;
  silent.set_script({{"*", {{"silent", true}}}});
  answering.set_script({{"*", {{"result", "answered"}}}});
  silent.serve_in_background();
  answering.serve_in_background();

  Json answer = call("cli_failover", "page.title");
  EXPECT_EQ(answer["result"], "answered");
  EXPECT_EQ(answer["id"], "cli_failover");
  EXPECT_EQ(silent.requests().size(), 1u);
  EXPECT_EQ(broker_->registry().snapshot().size(), 2u) << "a time-out must not unregister";
}

TEST_F(InProcessBroker, OnlyBrowserTimingOutGivesATimeoutThatAsksForNoRestart) {
  start(BrokerOptions{.answer_wait = 100ms, .download_wait = 100ms});
  auto silent = serving("only", {{"*", {{"silent", true}}}});
  ASSERT_TRUE(silent && wait_until_registered(1));
  Json answer = call("cli_slow", "page.title");
  EXPECT_EQ(answer["kind"], "error");
  EXPECT_EQ(answer["error"]["code"], "timeout");
  EXPECT_EQ(answer["error"]["message"], "timed out waiting for Chromium response");
}

TEST_F(InProcessBroker, OnlyDownloadsThatWaitGetTheLongAnswerWait) {
  // The browser answers after longer than the normal wait and well within the long one.
  start(BrokerOptions{.answer_wait = 50ms, .download_wait = 60s});
  auto slow = serving("slow", {{"*", {{"delay_ms", 300}, {"result", "done"}}}});
  ASSERT_TRUE(slow && wait_until_registered(1));
  struct Case {
    const char* name;
    Json params;
    bool long_wait;
  };
  const Case cases[] = {
      {"wait true", {{"options", {{"wait", true}}}}, true},
      {"wait false", {{"options", {{"wait", false}}}}, false},
      {"wait as text", {{"options", {{"wait", "true"}}}}, false},
      {"no options", Json::object(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Json answer = call(std::string("cli_") + c.name, "download", c.params);
    if (c.long_wait) {
      EXPECT_EQ(answer["result"], "done");
    } else {
      EXPECT_EQ(answer["error"]["message"], "timed out waiting for Chromium response");
    }
  }
}

TEST_F(InProcessBroker, ReplacedConnectionIsClosedEvenWhileBlockedOnItsBrowser) {
  start(BrokerOptions{.answer_wait = 100ms, .download_wait = 100ms});
  auto old_browser = serving("tab", {{"*", {{"silent", true}}}});
  ASSERT_TRUE(old_browser && wait_until_registered(1));
  // The old connection's thread is now blocked reading an answer that never comes.
  EXPECT_EQ(call("cli_stuck", "page.title")["error"]["code"], "timeout");

  auto new_browser = serving("tab", {{"*", {{"result", "new"}}}});
  ASSERT_TRUE(new_browser);
  EXPECT_TRUE(old_browser->wait_until_finished()) << "the replaced connection was left open";
  EXPECT_EQ(call("cli_after", "page.title")["result"], "new");
  EXPECT_EQ(broker_->registry().snapshot().size(), 1u);
}

TEST_F(InProcessBroker, ConnectionWhoseThreadCannotStartIsClosedAndServingGoesOn) {
  std::atomic<int> attempts{0};
  start(BrokerOptions{}, [&](std::function<void()> work) -> Status {
    if (attempts++ == 0) return fail("failed to spawn thread");
    return run_on_reused_thread(std::move(work));
  });
  test::RawSocket refused = test::connect_loopback(broker_->port(), test::kGenerousWait);
  ASSERT_TRUE(refused.valid());
  ASSERT_TRUE(test::send_text(refused, test::request_text("cli_refused", "page.title", Json::object())));
  test::FrameReader reader;
  EXPECT_EQ(reader.read(refused, test::kGenerousWait).status, test::FrameReader::Status::Closed);

  EXPECT_EQ(call("cli_next", "page.title")["error"]["code"], "noBrowser");
}

// The broker closes it without an answer within the generous wait (a close with bytes
// left unread arrives as a reset).
bool closed_by_broker(const test::RawSocket& socket) {
  test::FrameReader reader;
  const auto status = reader.read(socket, test::kGenerousWait).status;
  return status == test::FrameReader::Status::Closed || status == test::FrameReader::Status::Failed;
}

TEST_F(InProcessBroker, SilentConnectionsAreClosedAtTheFirstMessageDeadlineAndCapped) {
  start(BrokerOptions{.first_message_wait = 300ms});
  test::RawSocket silent = test::connect_loopback(broker_->port(), test::kGenerousWait);
  test::RawSocket half = test::connect_loopback(broker_->port(), test::kGenerousWait);
  ASSERT_TRUE(silent.valid() && half.valid());
  ASSERT_TRUE(test::send_text(half, R"({"id":"cli_half","kind":"request")"));
  EXPECT_TRUE(closed_by_broker(silent));
  EXPECT_TRUE(closed_by_broker(half));
  EXPECT_EQ(call("cli_next", "page.title")["error"]["code"], "noBrowser");

  // A registered browser outlives the deadline: it waits for requests as long as it lives.
  auto browser = serving("patient", {{"*", {{"result", "still here"}}}});
  ASSERT_TRUE(browser && wait_until_registered(1));
  std::this_thread::sleep_for(600ms);  // past the first-message deadline, not a timing assertion
  EXPECT_EQ(call("cli_later", "page.title")["result"], "still here");
}

TEST_F(InProcessBroker, ConnectionsPastTheCapAreClosedUnread) {
  auto context = ConnectionContext{env_.state_path(), nullptr, BrokerOptions{}};
  context.max_connections = 2;
  auto started = BackgroundBroker::start(context);
  ASSERT_TRUE(started) << started.error().text();
  broker_ = std::move(*started);
  std::vector<test::RawSocket> held;
  for (int i = 0; i < 2; ++i) held.push_back(test::connect_loopback(broker_->port(), test::kGenerousWait));
  test::RawSocket extra = test::connect_loopback(broker_->port(), test::kGenerousWait);
  ASSERT_TRUE(extra.valid());
  ASSERT_TRUE(test::send_text(extra, test::request_text("cli_extra", "page.title", Json::object())));
  EXPECT_TRUE(closed_by_broker(extra));

  held.clear();  // their threads end, and the broker serves again
  EXPECT_TRUE(test::eventually([&] {
    std::string error;
    auto answer = test::call_raw(broker_->port(), test::request_text("cli_again", "page.title", Json::object()),
                                 test::kGenerousWait, &error);
    return answer && Json::parse(*answer)["error"]["code"] == "noBrowser";
  }));
}

TEST_F(InProcessBroker, AMessagePastTheSizeLimitClosesTheConnection) {
  start(BrokerOptions{.max_message_bytes = 64 * 1024});
  test::RawSocket endless = test::connect_loopback(broker_->port(), test::kGenerousWait);
  ASSERT_TRUE(endless.valid());
  std::thread writer([&] {
    const std::string chunk(64 * 1024, 'x');
    test::send_text(endless, R"({"id":"cli_big","params":")");
    for (int i = 0; i < 64 && test::send_text(endless, chunk); ++i) {
    }
  });
  EXPECT_TRUE(closed_by_broker(endless));
  endless.shutdown();
  writer.join();
  // A message within the limit is served.
  EXPECT_EQ(call("cli_small", "page.title", {{"data", std::string(1000, 'y')}})["error"]["code"], "noBrowser");
}

}  // namespace
}  // namespace vesk
