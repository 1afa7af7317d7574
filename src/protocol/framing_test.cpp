#include "protocol/framing.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace vesk {
namespace {

using namespace std::chrono_literals;

// A connection whose far end the test holds.
struct ConnectionPair {
  ConnectionPair() {
    auto pair = connected_socket_pair();
    if (!pair) std::abort();
    reader = std::make_unique<Connection>(std::move(pair->first));
    writer = std::move(pair->second);
  }
  std::unique_ptr<Connection> reader;
  UniqueSocket writer;
};

// A read as text: the message encoded again, or "error: " and the error chain.
std::string outcome(const Result<Message>& message) {
  return message ? encode_message(*message) : "error: " + message.error().text();
}

// Every read until the first error (which ends the list).
std::vector<std::string> read_until_error(Connection& connection) {
  std::vector<std::string> outcomes;
  for (;;) {
    auto message = read_message(connection);
    outcomes.push_back(outcome(message));
    if (!message) return outcomes;
  }
}

constexpr const char* kEnd = "error: failed to fill whole buffer";
#define MSG(id, kind) R"({"id":")" id R"(","kind":")" kind R"(","version":1})"
#define ENCODED(id, kind) \
  R"({"id":")" id R"(","kind":")" kind R"(","version":1,"method":null,"params":null,"result":null,"error":null})"

TEST(ReadMessage, CutsMessagesOutOfTheStream) {
  struct Case {
    const char* name;
    std::string stream;
    std::vector<std::string> outcomes;
  } cases[] = {
      {"back to back", MSG("a", "event") MSG("b", "response"), {ENCODED("a", "event"), ENCODED("b", "response"), kEnd}},
      {"line break between", MSG("a", "event") "\n" MSG("b", "event") "\n",
       {ENCODED("a", "event"), ENCODED("b", "event"), kEnd}},
      {"leading white space", " \t\r\n\f" MSG("a", "event"), {ENCODED("a", "event"), kEnd}},
      {"brace inside a string", MSG("}{]", "event"), {ENCODED("}{]", "event"), kEnd}},
      {"escaped quote then brace", MSG(R"(a\"})", "event"), {ENCODED(R"(a\"})", "event"), kEnd}},
      {"backslash before the closing quote", MSG(R"(a\\)", "event") MSG("b", "event"),
       {ENCODED(R"(a\\)", "event"), ENCODED("b", "event"), kEnd}},
      {"array form", R"(["a","event",1,null,null,null,null])", {ENCODED("a", "event"), kEnd}},
      {"empty stream", "", {kEnd}},
      {"only white space", "  \n", {kEnd}},
      {"ends mid-message", R"({"id":"a","kind":)", {kEnd}},
      {"ends inside a string", R"({"id":"a}})", {kEnd}},
      {"a bare number never completes", "5 ", {kEnd}},
      {"heartbeat frame, extra members kept", R"({"type":"heartbeat","seq":3,"at":"now"})",
       {R"({"id":"heartbeat","kind":"event","version":1,"method":"heartbeat","params":{"at":"now","seq":3,"type":"heartbeat"},"result":null,"error":null})",
        kEnd}},
      {"hello frame, extra members dropped",
       R"({"type":"hello","instance_id":"inst_1","token":"t0k","protocol_version":1,"x":true})",
       {R"({"id":"hello","kind":"request","version":1,"method":"hello","params":{"instanceId":"inst_1","protocolVersion":1,"token":"t0k"},"result":null,"error":null})",
        kEnd}},
      {"a valid message with a type member stays a message",
       R"({"type":"hello","id":"m","kind":"response","version":2})",
       {R"({"id":"m","kind":"response","version":2,"method":null,"params":null,"result":null,"error":null})", kEnd}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ConnectionPair pair;
    ASSERT_TRUE(write_all(pair.writer.get(), c.stream));
    pair.writer.reset();
    EXPECT_EQ(read_until_error(*pair.reader), c.outcomes);
  }
}

TEST(ReadMessage, RejectsWhatIsNotAMessageAndKeepsReadingAfterIt) {
  struct Case {
    const char* name;
    std::string bad;
    std::string error;  // a prefix of the error text
  } cases[] = {
      {"stray letter", "x" MSG("a", "event"), "error: [json.exception.parse_error.101] parse error at line 1, column 1"},
      {"vertical tab is not white space", "\v" MSG("a", "event"), "error: [json.exception.parse_error.101]"},
      {"negative depth, back to zero later", "}{{}", "error: [json.exception.parse_error.101]"},
      {"no type member", R"({"a":1})", R"(error: unsupported JSON message after missing field `id`: {"a":1})"},
      {"not an object", R"([1,2])", "error: unsupported JSON message after expected an array of 7 elements, found 2 "
                                    "elements: [1,2]"},
      {"type not a string", R"({"type":1})", "error: unsupported JSON message after missing field `id`: {\"type\":1}"},
      {"unknown type", R"({"type":"bye"})", "error: unsupported JSON message after missing field `id`: "},
      {"hello with string version", R"({"type":"hello","protocol_version":"1","token":"t","instance_id":"i"})",
       "error: unsupported JSON message after missing field `id`: "
       R"({"instance_id":"i","protocol_version":"1","token":"t","type":"hello"})"},
      {"hello with negative version", R"({"type":"hello","protocol_version":-1,"token":"t","instance_id":"i"})",
       "error: unsupported JSON message after"},
      {"hello with fractional version", R"({"type":"hello","protocol_version":1.5,"token":"t","instance_id":"i"})",
       "error: unsupported JSON message after"},
      {"hello without token", R"({"type":"hello","protocol_version":1,"instance_id":"i"})",
       "error: unsupported JSON message after"},
      {"hello with numeric instance id", R"({"type":"hello","protocol_version":1,"token":"t","instance_id":2})",
       "error: unsupported JSON message after"},
      {"nesting deeper than the limit", std::string(600, '[') + std::string(600, ']'),
       "error: JSON nested deeper than 512 levels"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ConnectionPair pair;
    ASSERT_TRUE(write_all(pair.writer.get(), c.bad + "\n" MSG("next", "event")));
    pair.writer.reset();
    const auto first = outcome(read_message(*pair.reader));
    EXPECT_TRUE(first.starts_with(c.error)) << first;
    // The bytes after the rejected value are still there for the next read.
    EXPECT_EQ(outcome(read_message(*pair.reader)), ENCODED("next", "event"));
  }
}

TEST(ReadMessage, AssemblesMessagesSplitAcrossManySmallWrites) {
  ConnectionPair pair;
  const Message first = request_message("cli_1", "page.type", Json{{"text", R"(} ] \" \\ { [)"}});
  const Message second = response_message("cli_1", Json{{"ok", std::string(100000, 'y')}});
  const std::string stream = "\n" + encode_message(first) + "  " + encode_message(second);
  std::thread writer([&] {
    for (std::size_t i = 0; i < stream.size(); i += 7) {
      ASSERT_TRUE(write_all(pair.writer.get(), std::string_view(stream).substr(i, 7)));
    }
    pair.writer.reset();
  });
  const auto outcomes = read_until_error(*pair.reader);
  writer.join();
  EXPECT_EQ(outcomes, (std::vector<std::string>{encode_message(first), encode_message(second), kEnd}));
}

TEST(ReadMessage, CarriesALargeMessageIntact) {
  ConnectionPair pair;
  std::string payload(8 << 20, 'a');
  for (std::size_t i = 0; i < payload.size(); i += 4099) payload[i] = "\"\\{}[]\n"[i % 7];
  const Message big = request_message("cli_big", "file.upload", Json{{"data", payload}});
  std::thread writer([&] {
    EXPECT_TRUE(write_all(pair.writer.get(), encode_message(big) + encode_message(request_message("cli_small", "m", nullptr))));
    pair.writer.reset();
  });
  auto message = read_message(*pair.reader);
  auto small = read_message(*pair.reader);
  writer.join();
  ASSERT_TRUE(message) << message.error().text();
  EXPECT_EQ(message->params["data"].get_ref<const std::string&>(), payload);
  ASSERT_TRUE(small);
  EXPECT_EQ(small->id, "cli_small");
}

TEST(ReadMessage, ATimeOutIsTimedOutAndLosesNoBytes) {
  ConnectionPair pair;
  ASSERT_TRUE(set_socket_timeouts(pair.reader->socket(), 50ms, 50ms));
  const std::string text = MSG("late", "event");
  ASSERT_TRUE(write_all(pair.writer.get(), text.substr(0, 10)));
  auto timed_out = read_message(*pair.reader);
  ASSERT_FALSE(timed_out);
  EXPECT_EQ(timed_out.error().kind(), ErrorKind::TimedOut);
  EXPECT_NE(timed_out.error().text().find("timed out"), std::string::npos) << timed_out.error().text();

  ASSERT_TRUE(write_all(pair.writer.get(), text.substr(10)));
  auto message = read_message(*pair.reader);
  ASSERT_TRUE(message) << message.error().text();
  EXPECT_EQ(message->id, "late");
}

TEST(ReadMessage, ADeadlineBoundsTheWholeMessageNotEachRead) {
  ConnectionPair pair;
  pair.reader->set_read_deadline(std::chrono::steady_clock::now() + 200ms);
  // A trickle of bytes that never ends its message keeps no reader past the deadline.
  std::atomic<bool> stop{false};
  std::thread trickle([&] {
    (void)write_all(pair.writer.get(), "{\"id\":\"");
    while (!stop) {
      (void)write_all(pair.writer.get(), "a");
      std::this_thread::sleep_for(10ms);
    }
  });
  auto message = read_message(*pair.reader);
  stop = true;
  trickle.join();
  ASSERT_FALSE(message);
  EXPECT_EQ(message.error().kind(), ErrorKind::TimedOut);

  ConnectionPair in_time;
  in_time.reader->set_read_deadline(std::chrono::steady_clock::now() + 60s);
  ASSERT_TRUE(write_all(in_time.writer.get(), MSG("prompt", "event")));
  auto prompt = read_message(*in_time.reader);
  ASSERT_TRUE(prompt) << prompt.error().text();
  EXPECT_EQ(prompt->id, "prompt");
}

TEST(ReadMessage, AMessagePastTheSizeLimitFailsNamingTheLimit) {
  ConnectionPair pair;
  pair.reader->set_max_message_bytes(1000);
  const std::string fits = R"({"id":"fits","kind":"event","version":1,"params":")" + std::string(800, 'x') + "\"}";
  std::thread writer([&] {
    // An object with no end: only the limit ends the read. Small enough for the socket's
    // buffers, so the writer never waits for a reader that has stopped reading (not every
    // system wakes a blocked send when the other end closes).
    (void)write_all(pair.writer.get(), fits + R"({"id":")" + std::string(16 << 10, 'y'));
  });
  auto first = read_message(*pair.reader);
  ASSERT_TRUE(first) << first.error().text();
  EXPECT_EQ(first->id, "fits");
  auto endless = read_message(*pair.reader);
  pair.reader->close();
  writer.join();
  ASSERT_FALSE(endless);
  EXPECT_NE(endless.error().text().find("message exceeds the maximum size of 1000 bytes ("), std::string::npos)
      << endless.error().text();
}

TEST(ReadMessage, EndOfStreamHasItsKind) {
  ConnectionPair pair;
  pair.writer.reset();
  auto message = read_message(*pair.reader);
  ASSERT_FALSE(message);
  EXPECT_EQ(message.error().kind(), ErrorKind::EndOfStream);
}

TEST(WriteMessage, SendsTheEncodedTextAloneAndFailsOnAClosedPeer) {
  ConnectionPair pair;
  const Message message = error_message("cli_x", "noBrowser", "no connected Chromium instance");
  Connection sender(std::move(pair.writer));
  ASSERT_TRUE(write_message(sender, message));
  sender.close();
  std::string received;
  char buffer[4096];
  for (;;) {
    auto got = receive_some(pair.reader->socket(), buffer, sizeof buffer);
    if (!got || *got == 0) break;
    received.append(buffer, *got);
  }
  EXPECT_EQ(received, encode_message(message));

  EXPECT_FALSE(write_message(sender, message));
  ConnectionPair gone;
  gone.reader.reset();
  Connection orphan(std::move(gone.writer));
  // TCP may take the first writes before the peer's reset arrives.
  Status written;
  for (int i = 0; i < 1000 && written; ++i) written = write_message(orphan, message);
  EXPECT_FALSE(written);
}

}  // namespace
}  // namespace vesk
