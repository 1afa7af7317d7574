#pragma once
// FakeBrowser: a scripted stand-in for the browser side of the broker protocol, for tests.
// It connects to a broker, says hello, then answers each request from a script and keeps
// the raw JSON text of every request exactly as it arrived. It shares no code with the
// broker's protocol implementation, so it checks that implementation from outside.
//
// Hello: the message form {"id":"hello-1","kind":"request","version":1,"method":"hello",
// "params":{"protocolVersion":…,"instanceId":…,"token":…}} or the older frame form
// {"type":"hello","protocol_version":…,"token":…,"instance_id":…}. Members set to
// nullopt/null in the config are left out, to test hellos that lack them.
//
// Script: a JSON object (the fake_browser program reads the same text from the
// FAKE_BROWSER_SCRIPT variable or the file named by FAKE_BROWSER_SCRIPT_FILE):
//   "sequence": [B, …]   answers for the first requests in order, whatever their method
//   "<method>":  B or [B, …]   answers for that method; a list is used in order and its
//                               last entry repeats
//   "*": B                answer for every other request (default: {"echo":true})
// where a behaviour B is one of
//   {"result": X}                          answer kind "response" with result X
//   {"error": {"code":…, "message":…}}     answer kind "error"
//   {"echo": true}                         result {"method": <method>, "params": <params>}
//   {"silent": true}                       no answer at all (the broker's wait runs out)
//   {"disconnect": true}                   close the connection instead of answering
// and may add "before": [frame, …], JSON values written first (events, heartbeat frames),
// "delay_ms": N, a pause before answering (a slow browser), and "id": a string to answer
// with instead of the request's id.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "raw_wire.hpp"

namespace vesk::test {

enum class HelloForm { Message, Frame };

struct FakeBrowserConfig {
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;
  std::optional<std::string> instance_id = "inst_fake0001";
  std::optional<std::string> token = "fake-token";
  Json protocol_version = 1;  // null leaves the member out
  HelloForm hello_form = HelloForm::Message;
  Json script = Json::object();
  milliseconds connect_wait = milliseconds(10000);
  milliseconds hello_wait = milliseconds(20000);
  // Whether requests() keeps every request's text. The fake_browser program hands each one
  // to its on_request callback instead, and a benchmark's large uploads would pile up here.
  bool keep_requests = true;
};

// Picks the behaviour for each request from a script (see above). Not thread-safe.
class FakeScript {
 public:
  explicit FakeScript(Json script);
  Json next(const std::string& method);

 private:
  Json script_;
  std::size_t sequence_used_ = 0;
  std::map<std::string, std::size_t> method_used_;
};

// The answer text for `behaviour` to the request whose text is `text` and whose id and
// method are `header` (nullopt: send nothing).
std::optional<std::string> scripted_answer(const Json& behaviour, const Json& header, const std::string& text);

class FakeBrowser {
 public:
  // Connects, sends the hello and reads the broker's answer to it. Fails (with the
  // reason) only when no connection or no answer could be had.
  static std::unique_ptr<FakeBrowser> connect(FakeBrowserConfig config, std::string* error = nullptr);
  ~FakeBrowser();  // disconnects and joins the serving thread
  FakeBrowser(const FakeBrowser&) = delete;
  FakeBrowser& operator=(const FakeBrowser&) = delete;

  // The broker's answer to the hello, parsed, and whether it accepted.
  [[nodiscard]] const Json& hello_answer() const { return hello_answer_; }
  [[nodiscard]] bool accepted() const;

  // Replaces the script; only before serving starts.
  void set_script(Json script) { script_ = FakeScript(std::move(script)); }

  // Called with each request's raw text as it arrives (set before serving).
  void on_request(std::function<void(const std::string&)> callback) { on_request_ = std::move(callback); }

  // Answers requests on a background thread until disconnect() or the broker closes.
  void serve_in_background();
  // The same on the calling thread; returns when the connection ends.
  void serve();

  // Every request received so far, raw text exactly as read.
  [[nodiscard]] std::vector<std::string> requests() const;
  // Waits until at least `count` requests have arrived.
  bool wait_for_requests(std::size_t count, milliseconds wait = milliseconds(20000)) const;
  // After a rejected hello: true when the broker closes the connection within `wait`.
  bool wait_for_broker_close(milliseconds wait = milliseconds(20000));
  // True once the serving loop has ended (connection closed by either side).
  bool wait_until_finished(milliseconds wait = milliseconds(20000)) const;

  // Closes the connection now, as a crashing browser would.
  void disconnect();

 private:
  FakeBrowser(RawSocket socket, Json script, bool keep_requests)
      : socket_(std::move(socket)), script_(std::move(script)), keep_requests_(keep_requests) {}
  void record(const std::string& text);
  void mark_finished();

  // How long the serving loop waits for a request before it looks whether to stop.
  static constexpr milliseconds kServePoll{100};

  RawSocket socket_;
  std::atomic<bool> stopping_ = false;
  FrameReader reader_;
  FakeScript script_;
  Json hello_answer_;
  std::function<void(const std::string&)> on_request_;
  std::thread server_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool keep_requests_ = true;
  std::vector<std::string> requests_;  // guarded by mutex_
  std::size_t request_count_ = 0;      // guarded by mutex_
  bool finished_ = false;              // guarded by mutex_
};

}  // namespace vesk::test
