#include "browser/trackers/network.hpp"

#include <algorithm>
#include <cctype>

#include "base/base64.hpp"
#include "base/log.hpp"
#include "browser/core/base64.hpp"

namespace vesk::browser {

namespace {

constexpr std::chrono::milliseconds kAnswerTimeout{10'000};

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

double number_member(const Json& object, const char* key, double fallback) {
  auto it = object.find(key);
  return it != object.end() && it->is_number() ? it->get<double>() : fallback;
}

}  // namespace

NetworkTracker::NetworkTracker(const TabTrackerContext& context, std::shared_ptr<NetworkRules> rules)
    : client_(context.client), session_id_(context.session_id), rules_(std::move(rules)) {
  responder_ = std::thread([this] { respond_loop(); });
}

NetworkTracker::~NetworkTracker() {
  {
    std::lock_guard lock(paused_mutex_);
    stopping_ = true;
  }
  paused_changed_.notify_all();
  responder_.join();
}

std::expected<void, CdpFailure> NetworkTracker::start(const TabTrackerContext&) {
  CallOptions options;
  options.session_id = session_id_;
  auto enabled = client_.call("Network.enable", Json::object(), options);
  if (!enabled) return std::unexpected(enabled.error());
  // A fresh session intercepts nothing and is online: only rules in force need sending.
  if (rules_->fetch_patterns().empty()) return {};
  return apply_rules();
}

std::expected<void, CdpFailure> NetworkTracker::apply_rules() {
  CallOptions options;
  options.session_id = session_id_;
  Json patterns = rules_->fetch_patterns();
  auto fetch = patterns.empty() ? client_.call("Fetch.disable", Json::object(), options)
                                : client_.call("Fetch.enable", {{"patterns", std::move(patterns)}}, options);
  if (!fetch) return std::unexpected(fetch.error());
  const bool offline = rules_->offline();
  // No throttling (-1) either way: only the connection is cut or restored.
  auto conditions = client_.call("Network.emulateNetworkConditions",
                                 {{"offline", offline}, {"latency", 0}, {"downloadThroughput", -1},
                                  {"uploadThroughput", -1}},
                                 options);
  if (!conditions) return std::unexpected(conditions.error());
  return {};
}

void NetworkTracker::on_event(const CdpEvent& event) {
  const std::string& method = event.method;
  if (method == "Fetch.requestPaused") {
    {
      std::lock_guard lock(paused_mutex_);
      paused_.push_back(event);
    }
    paused_changed_.notify_one();
    return;
  }
  if (!method.starts_with("Network.")) return;
  const Json& params = event.params;
  std::lock_guard lock(mutex_);
  if (method == "Network.requestWillBeSent") {
    record_request(params);
    return;
  }
  if (method == "Network.requestWillBeSentExtraInfo" || method == "Network.responseReceivedExtraInfo") {
    record_wire_headers(params.value("requestId", ""), params.value("headers", Json::object()),
                        method == "Network.responseReceivedExtraInfo");
    return;
  }
  RequestRecord* record = by_request_id(params.value("requestId", ""));
  if (record == nullptr) return;
  if (method == "Network.responseReceived") {
    record_response(*record, params.value("response", Json::object()));
  } else if (method == "Network.dataReceived") {
    record->body_bytes += params.value("dataLength", std::int64_t{0});
  } else if (method == "Network.requestServedFromCache") {
    record->from_cache = true;
  } else if (method == "Network.loadingFinished") {
    record->finished = true;
    record->ended = number_member(params, "timestamp", record->started);
    record->transfer_bytes = static_cast<std::int64_t>(number_member(params, "encodedDataLength", -1));
  } else if (method == "Network.loadingFailed") {
    record->ended = number_member(params, "timestamp", record->started);
    record->failure = params.value("errorText", "failed");
    if (params.value("canceled", false) && record->failure.empty()) record->failure = "canceled";
  }
}

RequestRecord* NetworkTracker::by_request_id(const std::string& request_id) {
  auto it = latest_.find(request_id);
  if (it == latest_.end() || records_.empty()) return nullptr;
  const std::uint64_t first = records_.front().id;
  if (it->second < first) return nullptr;
  return &records_[it->second - first];
}

void NetworkTracker::record_request(const Json& params) {
  const std::string request_id = params.value("requestId", "");
  const double timestamp = number_member(params, "timestamp", 0);
  // A redirect arrives as a new request under the same id: the hop before it ends here.
  if (auto redirect = params.find("redirectResponse"); redirect != params.end()) {
    if (RequestRecord* previous = by_request_id(request_id)) {
      record_response(*previous, *redirect);
      previous->finished = true;
      previous->ended = timestamp;
      previous->redirect_to = params.value("request", Json::object()).value("url", "");
    }
  }
  const Json request = params.value("request", Json::object());
  RequestRecord record;
  record.id = next_id_++;
  record.request_id = request_id;
  record.method = request.value("method", "GET");
  record.url = request.value("url", "");
  if (auto fragment = request.find("urlFragment"); fragment != request.end() && fragment->is_string()) {
    record.url += fragment->get<std::string>();
  }
  record.type = lower(params.value("type", "other"));
  record.request_headers = request.value("headers", Json::object());
  if (auto body = request.find("postData"); body != request.end() && body->is_string()) {
    record.post_data = body->get<std::string>();
  }
  record.wall_time = number_member(params, "wallTime", 0);
  record.started = timestamp;
  if (auto found = early_request_headers_.find(request_id); found != early_request_headers_.end()) {
    record.request_headers = std::move(found->second);
    record.wire_request_headers = true;
    early_request_headers_.erase(found);
  }
  if (auto found = early_response_headers_.find(request_id); found != early_response_headers_.end()) {
    record.response_headers = std::move(found->second);
    record.wire_response_headers = true;
    early_response_headers_.erase(found);
  }
  if (auto early = routed_early_.find(request_id); early != routed_early_.end()) {
    record.routed = early->second;
    routed_early_.erase(early);
  }
  latest_[request_id] = record.id;
  records_.push_back(std::move(record));
  if (records_.size() > kMaxRequests) {
    const RequestRecord& oldest = records_.front();
    if (auto it = latest_.find(oldest.request_id); it != latest_.end() && it->second == oldest.id) latest_.erase(it);
    records_.pop_front();
    ++dropped_;
  }
}

void NetworkTracker::record_response(RequestRecord& record, const Json& response) {
  record.status = response.value("status", 0);
  record.status_text = response.value("statusText", "");
  record.mime_type = response.value("mimeType", "");
  record.protocol = response.value("protocol", "");
  record.remote_address = response.value("remoteIPAddress", "");
  if (!record.wire_response_headers) record.response_headers = response.value("headers", Json::object());
  record.timing = response.value("timing", Json());
  if (response.value("fromDiskCache", false) || response.value("fromPrefetchCache", false)) {
    record.from_cache = true;
  }
}

void NetworkTracker::record_wire_headers(const std::string& request_id, const Json& headers, bool response) {
  if (RequestRecord* record = by_request_id(request_id)) {
    bool& wire = response ? record->wire_response_headers : record->wire_request_headers;
    if (!wire) {
      (response ? record->response_headers : record->request_headers) = headers;
      wire = true;
      return;
    }
  }
  // For a hop not reported yet (the record there is the previous hop's, or none).
  auto& early = response ? early_response_headers_ : early_request_headers_;
  if (early.size() >= kMaxRequests) early.clear();
  early[request_id] = headers;
}

void NetworkTracker::respond_loop() {
  for (;;) {
    CdpEvent paused;
    {
      std::unique_lock lock(paused_mutex_);
      paused_changed_.wait(lock, [&] { return stopping_ || !paused_.empty(); });
      if (paused_.empty()) return;  // stopping, nothing left to answer
      paused = std::move(paused_.front());
      paused_.pop_front();
    }
    respond(paused);
  }
}

void NetworkTracker::respond(const CdpEvent& paused) {
  const Json& params = paused.params;
  const std::string interception = params.value("requestId", "");
  const std::string url = params.value("request", Json::object()).value("url", "");
  CallOptions options;
  options.session_id = session_id_;
  options.deadline = deadline_in(kAnswerTimeout);
  if (rules_->offline()) {
    auto failed = client_.call("Fetch.failRequest", {{"requestId", interception}, {"errorReason", "InternetDisconnected"}}, options);
    if (!failed) log_debug("network: could not fail the paused request for " + url + ": " + failed.error().message);
    return;
  }
  // The rules may have changed since Chromium paused it: without a route now, let it go.
  std::optional<Route> route = rules_->answer_for(url);
  const std::string how = !route ? "" : route->abort ? "aborted" : "fulfilled";
  // Marked before answering: the page (and whoever lists the requests next) may see the
  // outcome before our call returns.
  mark_routed(params.value("networkId", ""), how);
  CdpResult answered;
  if (!route) {
    answered = client_.call("Fetch.continueRequest", {{"requestId", interception}}, options);
  } else if (route->abort) {
    answered = client_.call("Fetch.failRequest", {{"requestId", interception}, {"errorReason", "Failed"}}, options);
  } else {
    Json headers = Json::array();
    for (const auto& [name, value] : route->headers) headers.push_back({{"name", name}, {"value", value}});
    answered = client_.call("Fetch.fulfillRequest",
                            {{"requestId", interception},
                             {"responseCode", route->status},
                             {"responseHeaders", std::move(headers)},
                             {"body", base64_encode(route->body)}},
                            options);
  }
  if (!answered) {
    // The tab may have closed meanwhile; nothing is left waiting then.
    log_debug("network: could not answer the paused request for " + url + ": " + answered.error().message);
    mark_routed(params.value("networkId", ""), "");
  }
}

void NetworkTracker::mark_routed(const std::string& request_id, const std::string& how) {
  std::lock_guard lock(mutex_);
  if (RequestRecord* record = by_request_id(request_id)) {
    record->routed = how;
    return;
  }
  // Chromium may pause a request before it reports it: keep the mark for its record.
  if (routed_early_.size() >= kMaxRequests) routed_early_.clear();
  if (!how.empty()) routed_early_[request_id] = how;
  else routed_early_.erase(request_id);
}

void NetworkTracker::for_each(const std::function<void(const RequestRecord&)>& visit) const {
  std::lock_guard lock(mutex_);
  for (const auto& record : records_) visit(record);
}

std::optional<RequestRecord> NetworkTracker::find(std::uint64_t id) const {
  std::lock_guard lock(mutex_);
  if (records_.empty() || id < records_.front().id || id > records_.back().id) return std::nullopt;
  return records_[id - records_.front().id];
}

void NetworkTracker::clear() {
  std::lock_guard lock(mutex_);
  records_.clear();
  latest_.clear();
}

std::uint64_t NetworkTracker::dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

std::uint64_t NetworkTracker::next_id() const {
  std::lock_guard lock(mutex_);
  return next_id_;
}

std::unique_ptr<TabTracker> make_network_tracker(const TabTrackerContext& context) {
  return std::make_unique<NetworkTracker>(context, network_rules_of(context.client));
}

}  // namespace vesk::browser
