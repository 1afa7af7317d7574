#pragma once
// The requests of a tab, recorded from the moment the tab is attached (Network.* events)
// in a bounded ring: past kMaxRequests the oldest are dropped and counted. A redirect
// ends one record and starts the next, so each hop has its own status.
//
// The tracker also answers the requests that a route pauses (Fetch.requestPaused). The
// answer is a DevTools call, which the reader thread must never make, and the serving
// thread may be busy for seconds with another method: so each tracker has a responder
// thread of its own that fulfils, fails or continues every paused request. A paused
// request is always answered, or the page would wait for it forever.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

#include "browser/trackers/network_rules.hpp"
#include "browser/trackers/tab_tracker.hpp"

namespace vesk::browser {

inline constexpr std::size_t kMaxRequests = 2000;

struct RequestRecord {
  std::uint64_t id = 0;    // ours: 1, 2, ... per tab, never reused
  std::string request_id;  // Chromium's (Network.getResponseBody takes it)
  std::string method;
  std::string url;
  std::string type;  // Chromium's resource type in lower case: "document", "xhr", "fetch", ...
  Json request_headers = Json::object();
  std::optional<std::string> post_data;
  double wall_time = 0;   // start, seconds since the epoch
  double started = 0;     // start, Chromium's monotonic seconds
  double ended = -1;      // end (finished or failed) on the same clock; -1 while pending
  int status = 0;         // 0 until a response arrives
  std::string status_text;
  std::string mime_type;
  std::string protocol;   // "http/1.1", "h2", ...
  std::string remote_address;
  Json response_headers = Json::object();
  Json timing;            // Chromium's ResourceTiming, null without one
  std::int64_t transfer_bytes = -1;  // encoded bytes on the wire (headers included); -1 unknown
  std::int64_t body_bytes = 0;       // decoded body bytes received
  bool from_cache = false;
  bool finished = false;
  std::string failure;     // "net::ERR_FAILED", ... when it failed
  std::string routed;      // "fulfilled" or "aborted" when a route answered it
  std::string redirect_to;  // the next hop's URL, for a redirect
  // Whether the headers are those sent and received on the wire (Cookie and Set-Cookie
  // included), from Chromium's *ExtraInfo events, rather than the page's view of them.
  bool wire_request_headers = false;
  bool wire_response_headers = false;
};

class NetworkTracker : public TabTracker {
 public:
  NetworkTracker(const TabTrackerContext& context, std::shared_ptr<NetworkRules> rules);
  ~NetworkTracker() override;
  NetworkTracker(const NetworkTracker&) = delete;
  NetworkTracker& operator=(const NetworkTracker&) = delete;

  std::expected<void, CdpFailure> start(const TabTrackerContext& context) override;
  void on_event(const CdpEvent& event) override;

  // Sends the current rules (routes, offline) to the tab. Serving thread.
  std::expected<void, CdpFailure> apply_rules();

  // Calls `visit` for each record, oldest first, under the tracker's lock.
  void for_each(const std::function<void(const RequestRecord&)>& visit) const;
  [[nodiscard]] std::optional<RequestRecord> find(std::uint64_t id) const;
  // Forgets every record (ids keep counting).
  void clear();
  [[nodiscard]] std::uint64_t dropped() const;
  // The id the next request will get.
  [[nodiscard]] std::uint64_t next_id() const;

 private:
  RequestRecord* by_request_id(const std::string& request_id);  // mutex_ held
  void record_request(const Json& params);                      // mutex_ held
  void record_response(RequestRecord& record, const Json& response);
  void record_wire_headers(const std::string& request_id, const Json& headers, bool response);  // mutex_ held
  void respond_loop();
  void respond(const CdpEvent& paused);
  void mark_routed(const std::string& request_id, const std::string& how);

  DevToolsClient& client_;
  std::string session_id_;
  std::shared_ptr<NetworkRules> rules_;

  mutable std::mutex mutex_;
  std::deque<RequestRecord> records_;                     // guarded by mutex_
  std::unordered_map<std::string, std::uint64_t> latest_;  // Chromium's id -> ours; mutex_
  std::uint64_t next_id_ = 1;                             // guarded by mutex_
  std::uint64_t dropped_ = 0;                             // guarded by mutex_
  // Routed requests not reported yet: Chromium's id -> "fulfilled"/"aborted"; mutex_.
  std::unordered_map<std::string, std::string> routed_early_;
  // Wire headers that came before the record they belong to (Chromium sends the ExtraInfo
  // events before or after the request's own); by Chromium's id; mutex_.
  std::unordered_map<std::string, Json> early_request_headers_;
  std::unordered_map<std::string, Json> early_response_headers_;

  std::mutex paused_mutex_;
  std::condition_variable paused_changed_;
  std::deque<CdpEvent> paused_;  // guarded by paused_mutex_
  bool stopping_ = false;        // guarded by paused_mutex_
  std::thread responder_;
};

std::unique_ptr<TabTracker> make_network_tracker(const TabTrackerContext& context);

}  // namespace vesk::browser
