#include "fake_browser.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "protocol/wire_json.hpp"

namespace vesk::test {

namespace {

std::string hello_text(const FakeBrowserConfig& config) {
  Json params = Json::object();
  if (config.hello_form == HelloForm::Frame) {
    params["type"] = "hello";
    if (!config.protocol_version.is_null()) params["protocol_version"] = config.protocol_version;
    if (config.token) params["token"] = *config.token;
    if (config.instance_id) params["instance_id"] = *config.instance_id;
    return params.dump();
  }
  if (!config.protocol_version.is_null()) params["protocolVersion"] = config.protocol_version;
  if (config.instance_id) params["instanceId"] = *config.instance_id;
  if (config.token) params["token"] = *config.token;
  Json hello{{"id", "hello-1"}, {"kind", "request"}, {"version", 1}, {"method", "hello"}, {"params", params}};
  return hello.dump();
}

std::string member_string(const Json& object, const char* name, const std::string& fallback) {
  if (!object.is_object()) return fallback;
  auto found = object.find(name);
  return found != object.end() && found->is_string() ? found->get<std::string>() : fallback;
}

}  // namespace

FakeScript::FakeScript(Json script) : script_(script.is_object() ? std::move(script) : Json::object()) {}

Json FakeScript::next(const std::string& method) {
  if (auto sequence = script_.find("sequence"); sequence != script_.end() && sequence->is_array() &&
                                               sequence_used_ < sequence->size()) {
    return (*sequence)[sequence_used_++];
  }
  auto own = script_.find(method);
  if (own == script_.end()) own = script_.find("*");
  if (own == script_.end()) return Json{{"echo", true}};
  if (!own->is_array()) return *own;
  if (own->empty()) return Json{{"echo", true}};
  std::size_t& used = method_used_[method];
  const Json& chosen = (*own)[std::min(used, own->size() - 1)];
  ++used;
  return chosen;
}

// The product's wire parsers: the members a script picks its answer by, read without
// building the params, and the whole request.
Json whole_request(const std::string& text) {
  auto parsed = vesk::parse_wire_json(text);
  return parsed ? std::move(*parsed) : Json();
}

Json request_header(const std::string& text) {
  if (auto members = vesk::read_wire_members(text)) return std::move(members->header);
  return whole_request(text);
}

std::optional<std::string> scripted_answer(const Json& behaviour_in, const Json& header, const std::string& text) {
  const Json behaviour = behaviour_in.is_object() ? behaviour_in : Json::object();
  if (behaviour.value("silent", false) || behaviour.value("disconnect", false)) return std::nullopt;
  Json answer{{"id", member_string(behaviour, "id", member_string(header, "id", ""))},
              {"version", 1}, {"method", nullptr}, {"params", Json::object()},
              {"result", nullptr}, {"error", nullptr}};
  if (auto error = behaviour.find("error"); error != behaviour.end()) {
    answer["kind"] = "error";
    answer["error"] = {{"code", member_string(*error, "code", "browserError")},
                       {"message", member_string(*error, "message", "scripted failure")},
                       {"details", nullptr}};
  } else if (auto result = behaviour.find("result"); result != behaviour.end()) {
    answer["kind"] = "response";
    answer["result"] = *result;
  } else {
    answer["kind"] = "response";
    // Only an echo reads the params: an upload's request carries a whole file in them.
    const Json request = whole_request(text);
    const Json fields = request.is_object() ? request : Json::object();
    answer["result"] = {{"method", fields.value("method", Json())}, {"params", fields.value("params", Json())}};
  }
  return answer.dump();
}

std::unique_ptr<FakeBrowser> FakeBrowser::connect(FakeBrowserConfig config, std::string* error) {
  RawSocket socket = connect_host(config.host, config.port, config.connect_wait, error);
  if (!socket.valid()) return nullptr;
  if (!send_text(socket, hello_text(config))) {
    if (error) *error = "failed to send the hello";
    return nullptr;
  }
  std::unique_ptr<FakeBrowser> browser(new FakeBrowser(std::move(socket), std::move(config.script), config.keep_requests));
  auto outcome = browser->reader_.read(browser->socket_, config.hello_wait);
  if (outcome.status != FrameReader::Status::Frame) {
    if (error) *error = "no answer to the hello";
    return nullptr;
  }
  browser->hello_answer_ = Json::parse(outcome.text, nullptr, false);
  return browser;
}

FakeBrowser::~FakeBrowser() {
  disconnect();
  if (server_.joinable()) server_.join();
}

bool FakeBrowser::accepted() const {
  const Json& result = hello_answer_.is_object() ? hello_answer_.value("result", Json()) : Json();
  return result.is_object() && result.value("accepted", false);
}

void FakeBrowser::serve_in_background() {
  server_ = std::thread([this] { serve(); });
}

void FakeBrowser::serve() {
  for (;;) {
    // Short waits rather than one blocking read: a shutdown does not wake a blocked read
    // on every system, a look at the flag between waits always ends the loop.
    auto outcome = reader_.read(socket_, kServePoll);
    if (outcome.status == FrameReader::Status::TimedOut && !stopping_) continue;
    if (outcome.status != FrameReader::Status::Frame) break;
    record(outcome.text);
    const Json header = request_header(outcome.text);
    std::string method = member_string(header, "method", "");
    Json behaviour = script_.next(method);
    if (!behaviour.is_object()) behaviour = Json::object();
    bool sent = true;
    if (auto before = behaviour.find("before"); before != behaviour.end() && before->is_array()) {
      for (const Json& frame : *before) sent = sent && send_text(socket_, frame.dump());
    }
    if (behaviour.value("disconnect", false)) break;
    if (auto delay = behaviour.find("delay_ms"); delay != behaviour.end() && delay->is_number_integer()) {
      std::this_thread::sleep_for(milliseconds(std::max<std::int64_t>(0, delay->get<std::int64_t>())));
    }
    if (auto answer = scripted_answer(behaviour, header, outcome.text)) sent = sent && send_text(socket_, *answer);
    if (!sent) break;
  }
  socket_.shutdown();
  mark_finished();
}

void FakeBrowser::record(const std::string& text) {
  if (on_request_) on_request_(text);
  {
    std::lock_guard guard(mutex_);
    ++request_count_;
    if (keep_requests_) requests_.push_back(text);
  }
  changed_.notify_all();
}

void FakeBrowser::mark_finished() {
  {
    std::lock_guard guard(mutex_);
    finished_ = true;
  }
  changed_.notify_all();
}

std::vector<std::string> FakeBrowser::requests() const {
  std::lock_guard guard(mutex_);
  return requests_;
}

bool FakeBrowser::wait_for_requests(std::size_t count, milliseconds wait) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, wait, [&] { return request_count_ >= count; });
}

bool FakeBrowser::wait_until_finished(milliseconds wait) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, wait, [&] { return finished_; });
}

bool FakeBrowser::wait_for_broker_close(milliseconds wait) {
  return reader_.read(socket_, wait).status == FrameReader::Status::Closed;
}

void FakeBrowser::disconnect() {
  stopping_ = true;
  socket_.shutdown();
}

}  // namespace vesk::test
