#include "browser/running_browser.hpp"

namespace vesk::browser {

RunningBrowser::RunningBrowser(ChromiumProcess process, std::filesystem::path work_dir, ChromiumLaunch launch)
    : launch_(std::move(launch)), process_(std::move(process)) {
  client_ = std::make_unique<DevToolsClient>(process_.take_command_pipe(), process_.take_reply_pipe());
  browser_ = std::make_unique<Browser>(*client_, std::move(work_dir));
  methods_ = all_methods();
}

RunningBrowser::~RunningBrowser() {
  // Chromium first: the client's reader then sees the pipe close. The browser goes before
  // the client: dropping its trackers' listeners needs the client.
  process_.kill();
  browser_.reset();
  client_.reset();
}

Result<std::unique_ptr<RunningBrowser>> RunningBrowser::start(const ChromiumLaunch& launch,
                                                              std::chrono::milliseconds ready_timeout) {
  // Private working files of this run: earlier runs' uploads and staged downloads go.
  const std::filesystem::path work_dir = launch.user_data_dir / "vesk-work";
  std::error_code ec;
  std::filesystem::remove_all(work_dir, ec);
  std::filesystem::create_directories(work_dir, ec);
  if (ec) return fail("failed to create " + work_dir.string() + ": " + ec.message());
  std::filesystem::permissions(work_dir, std::filesystem::perms::owner_all, ec);
  auto process = ChromiumProcess::start(launch);
  if (!process) return fail(process.error().wrap("failed to start Chromium " + launch.binary.string()));
  std::unique_ptr<RunningBrowser> running(new RunningBrowser(std::move(*process), work_dir, launch));
  CallOptions options;
  options.deadline = deadline_in(ready_timeout);
  auto version = running->client_->call("Browser.getVersion", Json::object(), options);
  if (!version) {
    std::string where = launch.log_path.empty() ? std::string() : " (see " + launch.log_path.string() + ")";
    return fail("Chromium did not come up" + where + ": " + version.error().message);
  }
  // Downloads a page starts (a click on a download link) are staged and then moved to the
  // default downloads folder, instead of landing wherever Chromium would put them.
  Downloads& downloads = running->browser_->downloads();
  std::filesystem::create_directories(downloads.staging_dir(), ec);
  running->client_->call("Browser.setDownloadBehavior",
                            {{"behavior", "allowAndName"},
                             {"downloadPath", downloads.staging_dir().string()},
                             {"eventsEnabled", true}},
                            options);
  return running;
}

MethodResult RunningBrowser::serve(std::string_view method, const Json& params) {
  const Json& given = params.is_object() ? params : Json::object();
  if (method == "profile.list") return list_profiles(profiles_);
  if (method == "profile.create") return create_profile(profiles_, given);
  if (method == "profile.delete") return delete_profile(profiles_, given);
  if (method == "profile.open") return open_profile(given);
  return serve_method(*browser_, methods_, method, params);
}

MethodResult RunningBrowser::open_profile(const Json& params) {
  auto folder = profile_to_open(profiles_, params);
  if (!folder) return std::unexpected(folder.error());
  const std::string id = params["id"].get<std::string>();
  if (auto refreshed = browser_->refresh_tabs(); !refreshed) return std::unexpected(refreshed.error());
  std::vector<std::string> urls;
  for (Tab* tab : browser_->tabs()) urls.push_back(tab->url);
  if (id == profiles_.current) {
    return Json{{"profile", id}, {"path", folder->string()}, {"unchanged", true},
                {"note", "this instance already runs profile \"" + id + "\""}};
  }
  // The new Chromium comes up first: if it cannot, the old one keeps serving.
  ChromiumLaunch next = launch_;
  next.user_data_dir = *folder;
  if (!next.log_path.empty()) next.log_path = *folder / "chromium.log";
  auto fresh = start(next, std::chrono::seconds(30));
  if (!fresh) {
    return method_error("actionFailed", "failed to start Chromium on profile \"" + id + "\": " + fresh.error().text() +
                                            "; the instance still runs profile \"" + profiles_.current + "\"");
  }
  std::swap(launch_, (*fresh)->launch_);
  std::swap(process_, (*fresh)->process_);
  std::swap(client_, (*fresh)->client_);
  std::swap(browser_, (*fresh)->browser_);
  const std::string previous = profiles_.current;
  profiles_.current = id;
  if (on_new_chromium_) on_new_chromium_(process_.pid());
  fresh->reset();  // stops the old Chromium

  // The tabs of the old profile, reopened in the same order (the first in the new
  // Chromium's own first tab).
  Json tabs = Json::array();
  for (std::size_t i = 0; i < urls.size(); ++i) {
    if (urls[i].empty()) continue;
    Json opened = {{"url", urls[i]}};
    auto navigated = serve_method(*browser_, methods_, "tab.navigate", {{"url", urls[i]}, {"newTab", i > 0}});
    if (navigated) opened["tab"] = navigated->value("tab", Json());
    else opened["error"] = navigated.error().code + ": " + navigated.error().message;
    tabs.push_back(std::move(opened));
  }
  return Json{{"profile", id},
              {"path", folder->string()},
              {"previousProfile", previous},
              {"tabs", tabs},
              {"note", "the instance record in state.json still names profile \"" + previous +
                           "\": only `vesk instance start` writes it, so `vesk instance list` shows that profile and an "
                           "instance restarted after a failure comes back on it"}};
}

bool RunningBrowser::responsive(std::chrono::milliseconds timeout) {
  CallOptions options;
  options.deadline = deadline_in(timeout);
  return client_->call("Browser.getVersion", Json::object(), options).has_value();
}

}  // namespace vesk::browser
