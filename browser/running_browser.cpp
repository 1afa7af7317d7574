#include "browser/running_browser.hpp"

#include "browser/methods/batch.hpp"
#include "browser/methods/capture.hpp"
#include "browser/methods/handoff.hpp"
#include "browser/methods/record.hpp"

namespace vesk::browser {

RunningBrowser::RunningBrowser(ChromiumProcess process, std::filesystem::path work_dir)
    : process_(std::move(process)) {
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
  std::unique_ptr<RunningBrowser> running(new RunningBrowser(std::move(*process), work_dir));
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
  // A batch and a capture serve other methods; they come back here, so each of their
  // steps passes the same handoff gate and lands in the actions report.
  const ServeRequest serve_one = [this](const std::string& inner, const Json& inner_params) {
    return serve(inner, inner_params);
  };
  if (method == "quick") return run_batch(params, serve_one);
  if (auto refusal = handoff_refusal(*browser_, method, params)) return std::unexpected(std::move(*refusal));
  const auto started = std::chrono::system_clock::now();
  MethodResult result = method == "page.capture" ? capture_page(*browser_, params, serve_one)
                                                 : serve_method(*browser_, methods_, method, params);
  record_action(*browser_, method, params, result, started);
  return result;
}

bool RunningBrowser::responsive(std::chrono::milliseconds timeout) {
  CallOptions options;
  options.deadline = deadline_in(timeout);
  return client_->call("Browser.getVersion", Json::object(), options).has_value();
}

}  // namespace vesk::browser
