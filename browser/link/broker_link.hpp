#pragma once
// veskbrowser's side of the broker connection. It connects, says hello with its instance
// id and token, then serves the broker's requests one at a time: each request gets
// exactly one answer with the request's id, a "response" with the result or an "error"
// with {code, message, details}.
//
// Lifetime rules:
// - accepted as a shared tab although we have an instance id (our hello raced the
//   launcher's save of the record): reconnect after a short pause, so that the broker
//   registers us as our instance;
// - the broker connection drops: reconnect, for up to `reconnect_window`, then give up;
//   each attempt goes to the server the state file records at that moment (a server
//   that was killed and started again listens on a new port), with the same identity;
// - Chromium exits or stops answering: stop at once (the caller then exits).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "browser/running_browser.hpp"

namespace vesk::browser {

struct BrokerLinkOptions {
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;
  std::string token;
  std::string instance_id;
  // The data directory's state file, where a restarted server records its endpoint; empty
  // when this browser was not started from a data directory.
  std::filesystem::path state_path;
  std::chrono::milliseconds reconnect_window{10'000};
  std::chrono::milliseconds shared_retry_pause{300};
  // How long to keep asking to be registered as our instance before serving as shared.
  std::chrono::milliseconds shared_retry_window{10'000};
  // How often an idle link checks that Chromium still answers.
  std::chrono::milliseconds health_interval{10'000};
};

enum class LinkEnd {
  ChromiumGone,   // Chromium exited or stopped answering
  BrokerGone,     // no broker could be reached within the reconnect window
  Rejected,       // the broker refused our hello (wrong token or protocol version)
  Stopped,        // `stop` was set
};

std::string_view link_end_text(LinkEnd end);

// Runs until one of the LinkEnd conditions; logs what happens through log_info.
LinkEnd run_broker_link(const BrokerLinkOptions& options, RunningBrowser& browser,
                        const std::atomic<bool>& stop);

}  // namespace vesk::browser
