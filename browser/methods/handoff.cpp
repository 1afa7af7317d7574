#include "browser/methods/handoff.hpp"

#include <mutex>

#include "base/log.hpp"
#include "base/timestamp.hpp"
#include "browser/core/base64.hpp"
#include "browser/handoff/live_input.hpp"
#include "browser/handoff/live_view_server.hpp"
#include "browser/methods/reading_methods.hpp"
#include "browser/trackers/screencast.hpp"

namespace vesk::browser {
namespace {

constexpr auto kInputTimeout = std::chrono::seconds(5);

// What the person's side changes, from the live view's threads.
struct PersonSide {
  std::mutex mutex;
  bool returned = false;     // guarded by mutex
  std::string returned_at;   // guarded by mutex
};

// A tab's handoff. The screencast watch is declared after the server, so it ends first and
// no frame reaches a server that is going away.
struct HandoffState {
  bool active = false;
  std::string since;
  std::string message;
  std::shared_ptr<PersonSide> person;
  std::unique_ptr<LiveViewServer> server;
  ScreencastTracker::Watch frames;

  std::string state() const {
    if (!active) return "none";
    std::lock_guard lock(person->mutex);
    return person->returned ? "returned" : "handedOff";
  }
  std::string changed_at() const {
    if (!active) return since;
    std::lock_guard lock(person->mutex);
    return person->returned ? person->returned_at : since;
  }
  void end() {
    if (server) server->set_state("resumed");
    frames.reset();
    server.reset();
    active = false;
  }
};

// The person's input, replayed in the tab. Runs on a live view thread.
void replay_input(DevToolsClient& client, const std::string& session_id, const Json& events,
                  const std::shared_ptr<PersonSide>& person) {
  {
    std::lock_guard lock(person->mutex);
    if (person->returned) return;  // after "Done" the tab is the agent's again
  }
  for (const Json& event : events) {
    auto command = live_input_command(event);
    if (!command) continue;
    auto done = client.call(command->method, command->params,
                            CallOptions{session_id, deadline_in(kInputTimeout), nullptr});
    if (!done) log_info("live view: " + command->method + " failed: " + done.error().message);
  }
}

// Shows the tab at once: Chromium sends screencast frames only when something paints.
void show_first_frame(Browser& browser, Tab& tab, LiveViewServer& server) {
  auto metrics = browser.call(tab, "Page.getLayoutMetrics", Json::object());
  auto shot = browser.call(tab, "Page.captureScreenshot", Json{{"format", "jpeg"}, {"quality", 80}});
  if (!metrics || !shot) return;
  const Json& viewport = metrics->value("cssLayoutViewport", Json::object());
  auto jpeg = decode_base64(shot->value("data", std::string()));
  if (!jpeg) return;
  server.show_frame(std::move(*jpeg), viewport.value("clientWidth", 0), viewport.value("clientHeight", 0));
}

Json status_json(const Tab& tab, const HandoffState& handoff) {
  return Json{{"tab", tab.id},
              {"state", handoff.state()},
              {"since", handoff.changed_at().empty() ? Json() : Json(handoff.changed_at())},
              {"message", handoff.active ? Json(handoff.message) : Json()},
              {"url", handoff.active && handoff.server ? Json(handoff.server->url()) : Json()}};
}

std::string message_of(const Json& params) {
  // "vesk handoff --message TEXT" sends the words; "tab handoff" sends ["handoff", id].
  auto words = words_of(params);
  if (!words.empty() && words[0] == "handoff") words.erase(words.begin(), words.begin() + std::min<std::size_t>(2, words.size()));
  std::string message;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] == "--message" || words[i] == "-m") {
      message.clear();
      for (++i; i < words.size(); ++i) message += (message.empty() ? "" : " ") + words[i];
      break;
    }
    message += (message.empty() ? "" : " ") + words[i];
  }
  return message.empty() ? "The agent needs your help with this page. Press Done when you have finished." : message;
}

MethodResult hand_off(Browser& browser, Tab& tab, const Json& params) {
  auto& handoff = tab.state<HandoffState>();
  if (handoff.active) {
    Json answer = status_json(tab, handoff);
    answer["state"] = "handedOff";
    return answer;
  }
  auto person = std::make_shared<PersonSide>();
  const std::string message = message_of(params);
  DevToolsClient& client = browser.client();
  const std::string session_id = tab.session_id;
  auto server = LiveViewServer::start(
      message, LiveViewServer::Callbacks{
                   [&client, session_id, person](const Json& events) { replay_input(client, session_id, events, person); },
                   [person] {
                     std::lock_guard lock(person->mutex);
                     if (!person->returned) person->returned_at = utc_timestamp();
                     person->returned = true;
                   }});
  if (!server) return method_error("actionFailed", server.error().text());
  // In a headed browser the person may be at this screen: bring the tab to the front.
  (void)browser.call(tab, "Page.bringToFront", Json::object());
  show_first_frame(browser, tab, **server);

  auto* screencast = tab.tracker<ScreencastTracker>();
  if (screencast == nullptr) return method_error("actionFailed", "tab " + tab.id + " has no screencast");
  LiveViewServer* view = server->get();
  auto watch = screencast->watch(
      [view](const ScreencastFrame& frame) { view->show_frame(frame.jpeg, frame.css_width, frame.css_height); });
  if (!watch) return std::unexpected(from_cdp(watch.error(), "failed to start the live view's screencast"));

  handoff.active = true;
  handoff.since = utc_timestamp();
  handoff.message = message;
  handoff.person = std::move(person);
  handoff.server = std::move(*server);
  handoff.frames = std::move(*watch);
  log_info("tab " + tab.id + " handed off; live view at " + handoff.server->url());
  return Json{{"tab", tab.id}, {"state", "handedOff"}, {"url", handoff.server->url()},
              {"message", message}, {"since", handoff.since}};
}

MethodResult handoff_status(Browser&, Tab& tab, const Json&) { return status_json(tab, tab.state<HandoffState>()); }

MethodResult resume(Browser& browser, Tab& tab, const Json&) {
  auto& handoff = tab.state<HandoffState>();
  const std::string before = handoff.state();
  handoff.end();
  handoff.since = utc_timestamp();
  auto title = browser.call(tab, "Runtime.evaluate", Json{{"expression", "document.title"}, {"returnByValue", true}});
  auto url = browser.call(tab, "Runtime.evaluate", Json{{"expression", "location.href"}, {"returnByValue", true}});
  auto value_of = [](const CdpResult& reply, const std::string& fallback) {
    if (!reply) return fallback;
    return reply->value("result", Json::object()).value("value", fallback);
  };
  return Json{{"tab", tab.id}, {"state", "resumed"}, {"was", before},
              {"url", value_of(url, tab.url)}, {"title", value_of(title, tab.title)}};
}

}  // namespace

std::optional<MethodError> handoff_refusal(Browser& browser, std::string_view method, const Json& params) {
  // The handoff's own methods take the tab back or say where it is.
  if (only_reads(method) || method == "tab.handoff" || method == "tab.resume") return std::nullopt;
  Tab* tab = browser.known_tab(params);
  if (tab == nullptr) return std::nullopt;
  const auto& handoff = tab->state<HandoffState>();
  if (handoff.state() != "handedOff") return std::nullopt;
  const std::string& id = tab->id;
  return MethodError{"handedOff",
                     "tab " + id + " is handed off to a person (since " + handoff.since +
                         "); reading methods such as snapshot and screenshot still work. Poll `vesk handoff-status` "
                         "until it says \"returned\", then `vesk resume`",
                     Json{{"tab", id}, {"url", handoff.server ? Json(handoff.server->url()) : Json()}}};
}

void add_handoff_methods(MethodTable& table) {
  table["tab.handoff"] = tab_method(hand_off);
  table["tab.handoffStatus"] = tab_method(handoff_status, WhenDialogOpen::Serve);
  table["tab.resume"] = tab_method(resume, WhenDialogOpen::Serve);
}

}  // namespace vesk::browser
