#include "browser/core/browser.hpp"

#include <algorithm>

#include "browser/trackers/dialogs.hpp"

namespace vesk::browser {

namespace {

std::string tab_id_text(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_unsigned()) return std::to_string(value.get<std::uint64_t>());
  if (value.is_number_integer()) return std::to_string(value.get<std::int64_t>());
  return {};
}

}  // namespace

Browser::Browser(DevToolsClient& client, std::filesystem::path work_dir,
                 std::vector<TabTrackerFactory> tab_trackers)
    : client_(client),
      work_dir_(std::move(work_dir)),
      tab_trackers_(std::move(tab_trackers)),
      downloads_(std::make_unique<Downloads>(work_dir_ / "download-staging",
                                             work_dir_.parent_path() / "vesk-outputs" / "downloads")) {
  downloads_listener_ = client_.listen({"Browser.download*", ""}, [downloads = downloads_.get()](const CdpEvent& event) {
    downloads->observe(event);
  });
}

Tab* Browser::by_target(const std::string& target_id) {
  for (auto& tab : tabs_) {
    if (tab->target_id == target_id) return tab.get();
  }
  return nullptr;
}

std::expected<void, MethodError> Browser::refresh_tabs() {
  auto targets = call_browser("Target.getTargets", Json::object());
  if (!targets) return std::unexpected(from_cdp(targets.error(), "failed to list tabs"));
  std::vector<std::string> seen;
  for (const auto& info : (*targets).value("targetInfos", Json::array())) {
    // Chromium also lists its own UI targets; only pages are tabs.
    if (info.value("type", "") != "page") continue;
    std::string target_id = info.value("targetId", "");
    if (std::find(closed_targets_.begin(), closed_targets_.end(), target_id) != closed_targets_.end()) {
      continue;
    }
    seen.push_back(target_id);
    Tab* tab = by_target(target_id);
    if (tab == nullptr) {
      auto fresh = std::make_unique<Tab>();
      fresh->id = std::to_string(next_tab_number_++);
      fresh->target_id = target_id;
      tab = fresh.get();
      tabs_.push_back(std::move(fresh));
    }
    tab->url = info.value("url", "");
    tab->title = info.value("title", "");
  }
  std::erase_if(tabs_, [&](const auto& tab) {
    return std::find(seen.begin(), seen.end(), tab->target_id) == seen.end();
  });
  if (std::none_of(tabs_.begin(), tabs_.end(), [&](const auto& t) { return t->id == current_; })) {
    current_ = tabs_.empty() ? std::string() : tabs_.front()->id;
  }
  return {};
}

std::vector<Tab*> Browser::tabs() {
  std::vector<Tab*> out;
  for (auto& tab : tabs_) out.push_back(tab.get());
  return out;
}

std::expected<Tab*, MethodError> Browser::find_tab(const std::string& id) {
  for (auto& tab : tabs_) {
    if (tab->id == id || tab->target_id == id) return tab.get();
  }
  return method_error("tabNotFound",
                      "no tab with id \"" + id + "\"; run `vesk tab list` to see the open tabs");
}

std::expected<Tab*, MethodError> Browser::tab_for(const Json& params) {
  if (auto refreshed = refresh_tabs(); !refreshed) return std::unexpected(refreshed.error());
  Tab* tab = nullptr;
  const Json requested = params.is_object() ? params.value("tab", Json()) : Json();
  if (!requested.is_null()) {
    std::string id = tab_id_text(requested);
    if (id.empty()) return invalid_argument("\"tab\" must be a tab id such as \"1\"");
    auto found = find_tab(id);
    if (!found) return std::unexpected(found.error());
    tab = *found;
  } else if (!current_.empty()) {
    tab = *find_tab(current_);
  } else {
    auto opened = open_tab("about:blank");
    if (!opened) return std::unexpected(opened.error());
    tab = *opened;
  }
  if (auto attached = attach(*tab); !attached) return std::unexpected(attached.error());
  return tab;
}

Tab* Browser::known_tab(const Json& params) {
  const Json requested = params.is_object() ? params.value("tab", Json()) : Json();
  const std::string id = requested.is_null() ? current_ : tab_id_text(requested);
  if (id.empty()) return nullptr;
  auto found = find_tab(id);
  return found ? *found : nullptr;
}

std::expected<Tab*, MethodError> Browser::open_tab(const std::string& url) {
  auto created = call_browser("Target.createTarget", {{"url", url}});
  if (!created) return std::unexpected(from_cdp(created.error(), "failed to open a tab"));
  std::string target_id = (*created).value("targetId", "");
  if (auto refreshed = refresh_tabs(); !refreshed) return std::unexpected(refreshed.error());
  Tab* tab = by_target(target_id);
  if (tab == nullptr) {
    return method_error("actionFailed", "the new tab closed before it could be used");
  }
  current_ = tab->id;
  if (auto attached = attach(*tab); !attached) return std::unexpected(attached.error());
  return tab;
}

std::expected<void, MethodError> Browser::close_tab(Tab& tab) {
  auto closed = call_browser("Target.closeTarget", {{"targetId", tab.target_id}});
  if (!closed) return std::unexpected(from_cdp(closed.error(), "failed to close tab " + tab.id));
  const std::string id = tab.id;
  closed_targets_.push_back(tab.target_id);
  std::erase_if(tabs_, [&](const auto& t) { return t->id == id; });
  if (current_ == id) current_ = tabs_.empty() ? std::string() : tabs_.back()->id;
  return {};
}

std::expected<void, MethodError> Browser::focus_tab(Tab& tab) {
  auto activated = call_browser("Target.activateTarget", {{"targetId", tab.target_id}});
  if (!activated) {
    return std::unexpected(from_cdp(activated.error(), "failed to focus tab " + tab.id));
  }
  current_ = tab.id;
  return {};
}

std::expected<void, MethodError> Browser::attach(Tab& tab) {
  if (!tab.session_id.empty()) return {};
  auto attached =
      call_browser("Target.attachToTarget", {{"targetId", tab.target_id}, {"flatten", true}});
  if (!attached) return std::unexpected(from_cdp(attached.error(), "failed to attach to tab " + tab.id));
  tab.session_id = (*attached).value("sessionId", "");
  const TabTrackerContext context{client_, tab.id, tab.target_id, tab.session_id};
  for (TabTrackerFactory make : tab_trackers_) tab.trackers.push_back(make(context));
  tab.listener = client_.listen({"", tab.session_id}, [&tab](const CdpEvent& event) {
    for (auto& tracker : tab.trackers) tracker->on_event(event);
  });
  // Page events bring load events and JavaScript dialogs; both are waited on.
  auto enabled = call(tab, "Page.enable", Json::object(), kCommandTimeout, false);
  if (!enabled) {
    detach(tab);
    return std::unexpected(from_cdp(enabled.error(), "failed to prepare tab " + tab.id));
  }
  for (auto& tracker : tab.trackers) {
    if (auto started = tracker->start(context); !started) {
      detach(tab);
      return std::unexpected(from_cdp(started.error(), "failed to prepare tab " + tab.id));
    }
  }
  return {};
}

void Browser::detach(Tab& tab) {
  tab.listener.reset();
  tab.trackers.clear();
  tab.session_id.clear();
}

LoadWatch Browser::watch_loads(Tab& tab) {
  return LoadWatch(client_, tab.session_id, tab.target_id, tab.tracker<DialogTracker>());
}

std::optional<Json> Browser::open_dialog(const Tab& tab) const {
  auto* dialogs = tab.tracker<DialogTracker>();
  return dialogs != nullptr ? dialogs->open() : std::nullopt;
}

std::expected<CdpReply, CdpFailure> Browser::call_with_sequence(Tab& tab, const std::string& method,
                                                                Json params,
                                                                std::chrono::milliseconds timeout,
                                                                bool stop_on_dialog) {
  CallOptions options;
  options.session_id = tab.session_id;
  options.deadline = deadline_in(timeout);
  if (stop_on_dialog) options.interrupt = tab.tracker<DialogTracker>();
  auto reply = client_.call_with_sequence(method, std::move(params), options);
  if (!reply && reply.error().kind == CdpFailureKind::Protocol && reply.error().code == kCdpSessionNotFound) {
    // The tab went away under us (closed by the page or crashed).
    detach(tab);
  }
  if (!reply) stop_busy_script(tab, tab.session_id, reply.error());
  return reply;
}

void Browser::stop_busy_script(const Tab& tab, const std::string& session_id, CdpFailure& failure) {
  if (failure.kind != CdpFailureKind::Timeout || session_id.empty()) return;
  // A page held by an open JavaScript dialog is waiting for the user, not busy: stopping
  // its script would end the script that opened the dialog. The probe fails with
  // DialogOpen at once then, and the dialog is checked again just before stopping.
  const auto* dialogs = tab.tracker<DialogTracker>();
  // Terminating stops the running script, or else the next one: ask first whether the page
  // can run anything at all (a call that waited on a promise leaves it free).
  CallOptions probe;
  probe.session_id = session_id;
  probe.deadline = deadline_in(std::chrono::seconds(2));
  probe.interrupt = dialogs;
  auto answered = client_.call("Runtime.evaluate", {{"expression", "0"}}, probe);
  if (answered || answered.error().kind != CdpFailureKind::Timeout) return;
  if (dialogs != nullptr && dialogs->open()) return;
  CallOptions stop;
  stop.session_id = session_id;
  stop.deadline = deadline_in(std::chrono::seconds(5));
  failure.script_stopped = client_.call("Runtime.terminateExecution", Json::object(), stop).has_value();
}

CdpResult Browser::call(Tab& tab, const std::string& method, Json params,
                        std::chrono::milliseconds timeout, bool stop_on_dialog) {
  auto reply = call_with_sequence(tab, method, std::move(params), timeout, stop_on_dialog);
  if (!reply) return std::unexpected(std::move(reply.error()));
  return std::move(reply->result);
}

CdpResult Browser::call_in(Tab& tab, const std::string& session_id, const std::string& method,
                           Json params, std::chrono::milliseconds timeout, bool stop_on_dialog) {
  if (session_id.empty() || session_id == tab.session_id) {
    return call(tab, method, std::move(params), timeout, stop_on_dialog);
  }
  CallOptions options;
  options.session_id = session_id;
  options.deadline = deadline_in(timeout);
  // A dialog of the tab blocks its frames' scripts too.
  if (stop_on_dialog) options.interrupt = tab.tracker<DialogTracker>();
  auto reply = client_.call(method, std::move(params), options);
  if (!reply) stop_busy_script(tab, session_id, reply.error());
  return reply;
}

namespace {
constexpr const char* kCallObjectGroup = "vesk-request";
}  // namespace

Json Browser::in_call_group(Tab& tab, const std::string& session_id, Json params) {
  sessions_with_call_objects_[session_id.empty() ? tab.session_id : session_id] = tab.id;
  params["objectGroup"] = kCallObjectGroup;
  return params;
}

void Browser::release_call_objects() {
  for (auto it = sessions_with_call_objects_.begin(); it != sessions_with_call_objects_.end();) {
    auto tab = find_tab(it->second);
    if (!tab) {  // closed: its objects went with it
      it = sessions_with_call_objects_.erase(it);
      continue;
    }
    // While a dialog is open the page answers nothing: release after it is answered.
    if (open_dialog(**tab)) {
      ++it;
      continue;
    }
    release_object_group(**tab, it->first, kCallObjectGroup);
    it = sessions_with_call_objects_.erase(it);
  }
}

void Browser::release_object_group(Tab& tab, const std::string& session_id, const std::string& group) {
  CallOptions release;
  release.session_id = session_id.empty() ? tab.session_id : session_id;
  release.deadline = deadline_in(std::chrono::seconds(2));
  release.await_reply = false;
  // A failure leaves nothing to do: the session is gone, and its objects with it.
  (void)client_.call("Runtime.releaseObjectGroup", {{"objectGroup", group}}, release);
}

void Browser::send(Tab& tab, const std::string& method, Json params) {
  CallOptions options;
  options.session_id = tab.session_id;
  options.deadline = deadline_in(kCommandTimeout);
  options.await_reply = false;
  (void)client_.call(method, std::move(params), options);
}

CdpResult Browser::call_in_filtered(Tab& tab, const std::string& session_id, const std::string& method, Json params,
                                   Json::parser_callback_t reply_filter) {
  auto call = start_call_in_filtered(tab, session_id, method, std::move(params), std::move(reply_filter));
  if (!call) return std::unexpected(std::move(call.error()));
  return finish_call(tab, *call);
}

std::expected<SentCall, CdpFailure> Browser::start_call_in_filtered(Tab& tab, const std::string& session_id,
                                                                    const std::string& method, Json params,
                                                                    Json::parser_callback_t reply_filter) {
  CallOptions options;
  options.session_id = session_id.empty() ? tab.session_id : session_id;
  options.deadline = deadline_in(kCommandTimeout);
  options.interrupt = tab.tracker<DialogTracker>();
  options.reply_filter = std::move(reply_filter);
  return client_.send_call(method, std::move(params), options);
}

CdpResult Browser::finish_call(Tab& tab, SentCall& call) {
  auto reply = call.wait();
  if (!reply && call.session_id() == tab.session_id && reply.error().kind == CdpFailureKind::Protocol &&
      reply.error().code == kCdpSessionNotFound) {
    detach(tab);  // as call() does: the tab went away under us
  }
  if (!reply) return std::unexpected(std::move(reply.error()));
  return std::move(reply->result);
}

CdpResult Browser::call_browser(const std::string& method, Json params,
                                std::chrono::milliseconds timeout) {
  CallOptions options;
  options.deadline = deadline_in(timeout);
  return client_.call(method, std::move(params), options);
}

}  // namespace vesk::browser
