// The DevTools client against a fake Chromium: the test holds the far ends of both pipes.
#include "browser/chromium/devtools_client.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vesk::browser {
namespace {

using namespace std::chrono_literals;

class FakeChromium {
 public:
  explicit FakeChromium(std::size_t max_message_bytes = kMaxReplyBytes) {
    int commands[2], replies[2];
    EXPECT_EQ(::pipe2(commands, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(replies, O_CLOEXEC), 0);
    command_read_.reset(commands[0]);
    reply_write_.reset(replies[1]);
    transport = std::make_unique<DevToolsClient>(UniqueFd(commands[1]), UniqueFd(replies[0]),
                                                 max_message_bytes);
  }

  // The next command the transport wrote, parsed.
  Json next_command() {
    std::string text;
    char c;
    while (::read(command_read_.get(), &c, 1) == 1 && c != '\0') text.push_back(c);
    return Json::parse(text);
  }
  // Writes raw bytes, NUL separators included by the caller.
  void send_raw(const std::string& bytes) {
    ASSERT_EQ(::write(reply_write_.get(), bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }
  void send(const Json& message) { send_raw(message.dump() + std::string(1, '\0')); }
  void exit() { reply_write_.reset(); }
  void stop_reading() { command_read_.reset(); }

  std::unique_ptr<DevToolsClient> transport;

 private:
  UniqueFd command_read_;
  UniqueFd reply_write_;
};

CallOptions within(std::chrono::milliseconds span, std::string session = {}) {
  CallOptions options;
  options.deadline = deadline_in(span);
  options.session_id = std::move(session);
  return options;
}

TEST(DevToolsClient, RepliesReachTheirCallersWhateverTheOrder) {
  FakeChromium chromium;
  auto first = std::async(std::launch::async, [&] {
    return chromium.transport->call("A.first", Json::object(), within(30s));
  });
  Json first_command = chromium.next_command();
  auto second = std::async(std::launch::async, [&] {
    return chromium.transport->call("B.second", {{"x", 1}}, within(30s, "S1"));
  });
  Json second_command = chromium.next_command();
  EXPECT_EQ(first_command["method"], "A.first");
  EXPECT_FALSE(first_command.contains("sessionId"));
  EXPECT_EQ(second_command["sessionId"], "S1");
  EXPECT_EQ(second_command["params"]["x"], 1);

  // The second reply arrives first, split over two writes, in one chunk with an event.
  std::string both = Json{{"id", second_command["id"]}, {"result", {{"v", 2}}}}.dump() +
                     std::string(1, '\0') + R"({"method":"X.event","params":{}})" + std::string(1, '\0') +
                     Json{{"id", first_command["id"]}, {"result", {{"v", 1}}}}.dump() + std::string(1, '\0');
  chromium.send_raw(both.substr(0, 7));
  chromium.send_raw(both.substr(7));
  auto second_reply = second.get();
  auto first_reply = first.get();
  ASSERT_TRUE(first_reply.has_value());
  ASSERT_TRUE(second_reply.has_value());
  EXPECT_EQ((*first_reply)["v"], 1);
  EXPECT_EQ((*second_reply)["v"], 2);
}

TEST(DevToolsClient, RepliesWithIdsOutsideOursAnswerNoCall) {
  FakeChromium chromium;
  auto call = std::async(std::launch::async, [&] {
    return chromium.transport->call("A.first", Json::object(), within(30s));
  });
  Json command = chromium.next_command();
  const std::int64_t id = command["id"].get<std::int64_t>();
  // The same low 32 bits, a negative id and a non-number: none of them is this call's answer.
  chromium.send({{"id", id + (std::int64_t{1} << 32)}, {"result", {{"v", "wrapped"}}}});
  chromium.send({{"id", id - (std::int64_t{1} << 32)}, {"result", {{"v", "negative"}}}});
  chromium.send({{"id", std::to_string(id)}, {"result", {{"v", "text"}}}});
  chromium.send({{"id", id}, {"result", {{"v", "own"}}}});
  auto reply = call.get();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ((*reply)["v"], "own");
}

// A command sent without waiting returns at once; its late reply answers nothing and the
// next call still gets its own.
TEST(DevToolsClient, ACommandSentWithoutWaitingLeavesItsReplyToNobody) {
  FakeChromium chromium;
  CallOptions posted = within(30s, "S1");
  posted.await_reply = false;
  auto sent = chromium.transport->call("Runtime.releaseObjectGroup", {{"objectGroup", "g"}}, posted);
  ASSERT_TRUE(sent.has_value());
  const Json release = chromium.next_command();
  EXPECT_EQ(release["method"], "Runtime.releaseObjectGroup");
  EXPECT_EQ(release["sessionId"], "S1");
  auto call = std::async(std::launch::async, [&] {
    return chromium.transport->call("A.next", Json::object(), within(30s));
  });
  const Json next = chromium.next_command();
  chromium.send({{"id", release["id"]}, {"result", {{"v", "release"}}}});
  chromium.send({{"id", next["id"]}, {"result", {{"v", "next"}}}});
  auto reply = call.get();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ((*reply)["v"], "next");
}

// Commands sent ahead are answered when awaited, in any order; one dropped unawaited leaves
// its late reply to nobody, and a reply is handed out only once.
TEST(DevToolsClient, CommandsSentAheadAreAnsweredWhenAwaitedAndForgottenWhenDropped) {
  FakeChromium chromium;
  auto first = chromium.transport->send_call("DOM.getDocument", Json::object(), within(30s, "S1"));
  auto second = chromium.transport->send_call("Runtime.callFunctionOn", Json::object(), within(30s, "S1"));
  auto dropped = chromium.transport->send_call("A.dropped", Json::object(), within(30s));
  ASSERT_TRUE(first && second && dropped);
  EXPECT_EQ(first->session_id(), "S1");
  const Json first_command = chromium.next_command();
  const Json second_command = chromium.next_command();
  const Json dropped_command = chromium.next_command();
  EXPECT_EQ(first_command["method"], "DOM.getDocument");
  EXPECT_EQ(second_command["method"], "Runtime.callFunctionOn");
  *dropped = SentCall();

  chromium.send({{"id", second_command["id"]}, {"result", {{"v", "second"}}}});
  chromium.send({{"id", dropped_command["id"]}, {"result", {{"v", "dropped"}}}});
  chromium.send({{"id", first_command["id"]}, {"result", {{"v", "first"}}}});
  auto first_reply = first->wait();
  auto second_reply = second->wait();
  ASSERT_TRUE(first_reply.has_value());
  ASSERT_TRUE(second_reply.has_value());
  EXPECT_EQ(first_reply->result["v"], "first");
  EXPECT_EQ(second_reply->result["v"], "second");
  EXPECT_FALSE(first->wait().has_value()) << "a reply is handed out once";

  auto next = std::async(std::launch::async, [&] {
    return chromium.transport->call("A.next", Json::object(), within(30s));
  });
  const Json next_command = chromium.next_command();
  chromium.send({{"id", next_command["id"]}, {"result", {{"v", "next"}}}});
  auto reply = next.get();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ((*reply)["v"], "next");
}

TEST(DevToolsClient, ErrorsTimeoutsAndExitFailTheRightCalls) {
  FakeChromium chromium;
  // A protocol error carries Chromium's message.
  auto refused = std::async(std::launch::async, [&] {
    return chromium.transport->call("DOM.focus", Json::object(), within(30s));
  });
  Json command = chromium.next_command();
  chromium.send({{"id", command["id"]}, {"error", {{"code", -32000}, {"message", "Node is not focusable"}}}});
  auto refused_reply = refused.get();
  ASSERT_FALSE(refused_reply.has_value());
  EXPECT_EQ(refused_reply.error().kind, CdpFailureKind::Protocol);
  EXPECT_NE(refused_reply.error().message.find("Node is not focusable"), std::string::npos);

  // No reply: a timeout, and the late reply is dropped without harm.
  auto silent = chromium.transport->call("Page.slow", Json::object(), within(50ms));
  ASSERT_FALSE(silent.has_value());
  EXPECT_EQ(silent.error().kind, CdpFailureKind::Timeout);
  Json slow = chromium.next_command();
  chromium.send({{"id", slow["id"]}, {"result", Json::object()}});

  // Chromium exiting fails a waiting call at once, and every later one.
  auto waiting = std::async(std::launch::async, [&] {
    return chromium.transport->call("Page.wait", Json::object(), within(60s));
  });
  chromium.next_command();
  chromium.exit();
  auto orphan = waiting.get();
  ASSERT_FALSE(orphan.has_value());
  EXPECT_EQ(orphan.error().kind, CdpFailureKind::Closed);
  EXPECT_TRUE(chromium.transport->closed());
  auto later = chromium.transport->call("Page.after", Json::object(), within(60s));
  ASSERT_FALSE(later.has_value());
  EXPECT_EQ(later.error().kind, CdpFailureKind::Closed);
}

TEST(DevToolsClient, OversizedCommandIsRefusedUnsent) {
  FakeChromium chromium;
  auto huge = chromium.transport->call("Runtime.evaluate",
                                       {{"expression", std::string(kMaxCommandBytes, 'x')}}, within(30s));
  ASSERT_FALSE(huge.has_value());
  EXPECT_EQ(huge.error().kind, CdpFailureKind::TooLarge);
  // The stream is still usable.
  auto next = std::async(std::launch::async, [&] {
    return chromium.transport->call("Browser.getVersion", Json::object(), within(30s));
  });
  Json command = chromium.next_command();
  EXPECT_EQ(command["method"], "Browser.getVersion");
  chromium.send({{"id", command["id"]}, {"result", {{"product", "x"}}}});
  EXPECT_TRUE(next.get().has_value());
}

TEST(DevToolsClient, OversizedRepliesAndEventsAreRefusedAndTheStreamGoesOn) {
  FakeChromium chromium(/*max_message_bytes=*/200);
  std::vector<std::string> seen;
  std::mutex seen_mutex;
  Listener listening = chromium.transport->listen({}, [&](const CdpEvent& e) {
    std::lock_guard lock(seen_mutex);
    seen.push_back(e.method);
  });
  auto big = std::async(std::launch::async, [&] {
    return chromium.transport->call("Runtime.evaluate", Json::object(), within(60s));
  });
  const Json big_id = chromium.next_command()["id"];
  const std::string bulk(1000, 'x');
  // The oversized reply arrives in pieces, the first already past the bound; an oversized
  // event follows in the same write as a small one.
  std::string reply = Json{{"id", big_id}, {"result", {{"value", bulk}}}}.dump() + std::string(1, '\0');
  chromium.send_raw(reply.substr(0, 300));
  chromium.send_raw(reply.substr(300));
  chromium.send_raw(Json{{"method", "Big.event"}, {"params", {{"v", bulk}}}}.dump() + std::string(1, '\0') +
                    R"({"method":"Small.event","params":{}})" + std::string(1, '\0'));
  auto refused = big.get();
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().kind, CdpFailureKind::TooLarge);
  EXPECT_NE(refused.error().message.find("200 bytes"), std::string::npos) << refused.error().message;

  auto small = std::async(std::launch::async, [&] {
    return chromium.transport->call("Page.small", Json::object(), within(60s));
  });
  chromium.send({{"id", chromium.next_command()["id"]}, {"result", {{"v", 1}}}});
  auto answer = small.get();
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ((*answer)["v"], 1);
  std::lock_guard lock(seen_mutex);
  EXPECT_EQ(seen, std::vector<std::string>{"Small.event"});
}

TEST(DevToolsClient, ARefusedReplyNamesItsCallOnlyByALeadingId) {
  struct Case {
    std::string_view text;
    std::int64_t id;
  };
  for (const Case& c : {Case{R"({"id":12,"result":{"value":")", 12},
                        Case{R"({"id":2147483647,"result")", 2147483647},
                        Case{R"({"id":2147483648,"result")", 0},
                        Case{R"({"id":4294967297,"result")", 0},
                        Case{R"({"id":012,"result")", 0},
                        Case{R"({"id":12.5,"result")", 0},
                        Case{R"({"id":12)", 0},  // cut inside the number: it may go on
                        Case{R"({"id":-1,"result")", 0},
                        Case{R"({"method":"Network.dataReceived","params")", 0},
                        Case{R"( {"id":12,"result")", 0}}) {
    EXPECT_EQ(leading_reply_id(c.text), c.id) << c.text;
  }
}

// What the dialog tracker does, in miniature: a listener records the dialog, and as the
// calls' interrupt it ends those held behind it.
class DialogFlag : public CallInterrupt {
 public:
  void on_event(const CdpEvent& event) {
    std::lock_guard lock(mutex_);
    if (event.method == "Page.javascriptDialogOpening") open_ = event.params;
    if (event.method == "Page.javascriptDialogClosed") open_.reset();
  }
  std::optional<CdpFailure> interrupted(const std::string& method) const override {
    std::lock_guard lock(mutex_);
    if (!open_) return std::nullopt;
    return CdpFailure{CdpFailureKind::DialogOpen, method, *open_, 0};
  }
  bool open() const {
    std::lock_guard lock(mutex_);
    return open_.has_value();
  }

 private:
  mutable std::mutex mutex_;
  std::optional<Json> open_;
};

TEST(DevToolsClient, AnInterruptEndsCallsHeldBehindItButNotOthers) {
  FakeChromium chromium;
  DialogFlag dialog;
  Listener listening = chromium.transport->listen({"Page.javascriptDialog", "S1"},
                                                  [&](const CdpEvent& e) { dialog.on_event(e); });
  // Not a prefix (no trailing dot): the filter takes nothing.
  EXPECT_FALSE(EventFilter({"Page.javascriptDialog", "S1"})
                   .accepts(CdpEvent{"Page.javascriptDialogOpening", Json::object(), "S1", 0}));
  listening = chromium.transport->listen({"Page.", "S1"}, [&](const CdpEvent& e) { dialog.on_event(e); });
  CallOptions held = within(60s, "S1");
  held.interrupt = &dialog;
  auto click = std::async(std::launch::async, [&] {
    return chromium.transport->call("Input.dispatchMouseEvent", Json::object(), held);
  });
  chromium.next_command();
  auto events = chromium.transport->subscribe([](const CdpEvent& e) { return e.session_id == "S1"; });
  // Another session's dialog changes nothing here.
  chromium.send({{"method", "Page.javascriptDialogOpening"}, {"params", {{"message", "Other"}}}, {"sessionId", "S2"}});
  chromium.send({{"method", "Page.javascriptDialogOpening"},
                 {"params", {{"type", "alert"}, {"message", "Careful!"}}},
                 {"sessionId", "S1"}});
  auto outcome = click.get();
  ASSERT_FALSE(outcome.has_value());
  EXPECT_EQ(outcome.error().kind, CdpFailureKind::DialogOpen);
  EXPECT_EQ(outcome.error().dialog["message"], "Careful!");
  // The listener saw the event before the queue did.
  auto seen = events->wait_for([](const CdpEvent&) { return true; }, deadline_in(30s));
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(seen->method, "Page.javascriptDialogOpening");

  // While it is open, a call that would be held is refused unsent; others go through.
  auto refused = chromium.transport->call("Runtime.evaluate", Json::object(), held);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().kind, CdpFailureKind::DialogOpen);
  auto handle = std::async(std::launch::async, [&] {
    return chromium.transport->call("Page.handleJavaScriptDialog", {{"accept", true}}, within(30s, "S1"));
  });
  Json command = chromium.next_command();
  EXPECT_EQ(command["method"], "Page.handleJavaScriptDialog");
  chromium.send({{"method", "Page.javascriptDialogClosed"}, {"params", {{"result", true}}}, {"sessionId", "S1"}});
  chromium.send({{"id", command["id"]}, {"result", Json::object()}, {"sessionId", "S1"}});
  EXPECT_TRUE(handle.get().has_value());
  EXPECT_FALSE(dialog.open());

  // A dropped listener hears nothing more.
  listening.reset();
  chromium.send({{"method", "Page.javascriptDialogOpening"}, {"params", Json::object()}, {"sessionId", "S1"}});
  ASSERT_TRUE(events->wait_for([](const CdpEvent& e) { return e.method == "Page.javascriptDialogOpening"; },
                               deadline_in(30s)));
  EXPECT_FALSE(dialog.open());
}

TEST(DevToolsClient, ErrorRepliesKeepChromiumsCode) {
  FakeChromium chromium;
  auto gone = std::async(std::launch::async, [&] {
    return chromium.transport->call("Runtime.evaluate", Json::object(), within(30s, "S9"));
  });
  Json command = chromium.next_command();
  chromium.send({{"id", command["id"]},
                 {"error", {{"code", kCdpSessionNotFound}, {"message", "Session with given id not found."}}}});
  auto reply = gone.get();
  ASSERT_FALSE(reply.has_value());
  EXPECT_EQ(reply.error().code, kCdpSessionNotFound);
}

TEST(DevToolsClient, AStalledReaderEndsTheWriteAtTheDeadline) {
  FakeChromium chromium;
  // Nobody reads the command pipe: the write fills the pipe buffer and must give up.
  auto stuck = chromium.transport->call("Runtime.evaluate",
                                        {{"expression", std::string(4 * 1024 * 1024, 'y')}}, within(200ms));
  ASSERT_FALSE(stuck.has_value());
  EXPECT_EQ(stuck.error().kind, CdpFailureKind::Closed);
  EXPECT_TRUE(chromium.transport->closed());
}

}  // namespace
}  // namespace vesk::browser
